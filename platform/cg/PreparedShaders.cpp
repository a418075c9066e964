#include "PreparedShaders.h"

#include "ResultCache.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// The thread that compiles ahead. It stays, idle, once its work is done, because the compile process it forks
// dies with the thread that started it (it is the process's parent-death signal); it ends when this process does.
struct PrefetchThread {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> work;  // handed over, not yet taken
    bool busy = false;           // work taken and running
    bool ending = false;

    void Serve()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return ending || work; });
            if (!work)
                return;
            const std::function<void()> next = std::move(work);
            work = nullptr;
            busy = true;
            lock.unlock();
            next();
            lock.lock();
            busy = false;
            changed.notify_all();
        }
    }

    void Run(std::function<void()> next)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!thread.joinable())
            thread = std::thread([this] { Serve(); });
        work = std::move(next);
        changed.notify_all();
    }

    void Wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return !work && !busy; });
    }

    // A process that ends during a start-up lets the work finish (its compiles are bounded) rather than destroy a
    // running thread.
    ~PrefetchThread()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ending = true;
        }
        changed.notify_all();
        if (thread.joinable())
            thread.join();
    }
};

PrefetchThread prefetch;
// Filled by the prefetch thread, read only after Wait: request key, result.
std::vector<std::pair<std::string, ShaderText>> prefetched;

// Everything the result depends on, or empty when it must not be cached: the program's code (the translator is
// built into it), the driver, the request with the file's whole text.
std::string CacheKey(const std::string& request, const std::string& source, const std::string& driver)
{
    const std::string program = ProgramIdentity();
    if (program.empty() || source.find("include") != std::string::npos)
        return std::string();
    return "shader text 1\n" + program + "\n" + driver + "\n" + request;
}

// The compile's result, taken from the cache first when lookUp says so; a result that compiled is kept.
ShaderText CachedOrCompiled(const std::string& source, const std::string& fileName, bool vertexStage,
                            const std::string& entry, const ShaderCompileOptions& options, const std::string& driver,
                            bool lookUp)
{
    const std::string key =
        CacheKey(EncodeShaderRequest(source, fileName, vertexStage, entry, options), source, driver);
    const std::string directory = key.empty() ? std::string() : ResultCacheDirectory();
    std::string stored;
    ShaderText text;
    if (lookUp && LoadCachedResult(directory, "shader", key, 16 * kShaderFileBytes, stored) &&
        DecodeShaderText(stored, text) && text.compiled)
        return text;
    text = CompileShaderText(source, fileName, vertexStage, entry, options);
    if (text.compiled)
        StoreCachedResult(directory, "shader", key, EncodeShaderText(text));
    return text;
}

}  // namespace

void FinishShaderPrefetch()
{
    prefetch.Wait();
    // A result nobody took was made under that start-up's budget, for the files as they were then: a later
    // request with the same text (a reload) must not get a compile that ran out of the start-up's time.
    prefetched.clear();
}

void PrefetchShaderTexts(const std::vector<ShaderFileRequest>& requests, const ShaderCompileOptions& options,
                         const std::string& driver)
{
    FinishShaderPrefetch();
    std::vector<std::pair<ShaderFileRequest, std::string>> sources;
    for (const ShaderFileRequest& request : requests) {
        std::string source;
        std::string problem;
        if (ReadShaderFile(request.file, source, problem))
            sources.emplace_back(request, std::move(source));
    }
    prefetch.Run([sources = std::move(sources), options, driver] {
        const ShaderCompileBudget budget(kShaderCompileMilliseconds);
        for (const auto& [request, source] : sources) {
            try {
                ShaderText text =
                    CachedOrCompiled(source, request.file, request.vertexStage, request.entry, options, driver, true);
                prefetched.emplace_back(
                    EncodeShaderRequest(source, request.file, request.vertexStage, request.entry, options),
                    std::move(text));
            } catch (...) {
                // Left to the compile that asks for it, which reports what goes wrong.
            }
        }
    });
}

ShaderText PreparedShaderText(const std::string& source, const std::string& fileName, bool vertexStage,
                              const std::string& entry, const ShaderCompileOptions& options, const std::string& driver)
{
    prefetch.Wait();
    const std::string request = EncodeShaderRequest(source, fileName, vertexStage, entry, options);
    for (auto found = prefetched.begin(); found != prefetched.end(); ++found) {
        if (found->first == request) {
            ShaderText text = std::move(found->second);
            prefetched.erase(found);
            return text;
        }
    }
    return CachedOrCompiled(source, fileName, vertexStage, entry, options, driver, false);
}
