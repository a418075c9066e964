#include "PreparedShaders.h"

#include "ResultCache.h"

#include <thread>
#include <utility>

namespace {

// Joined at exit too, so that a process that ends during a start-up never destroys a running thread.
struct PrefetchThread {
    std::thread thread;
    ~PrefetchThread()
    {
        if (thread.joinable())
            thread.join();
    }
};

PrefetchThread prefetch;
// Filled by the prefetch thread, read only after it is joined: request key, result.
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

ShaderText CachedOrCompiled(const std::string& source, const std::string& fileName, bool vertexStage,
                            const std::string& entry, const ShaderCompileOptions& options, const std::string& driver)
{
    const std::string key =
        CacheKey(EncodeShaderRequest(source, fileName, vertexStage, entry, options), source, driver);
    const std::string directory = key.empty() ? std::string() : ResultCacheDirectory();
    std::string stored;
    ShaderText text;
    if (LoadCachedResult(directory, "shader", key, 16 * kShaderFileBytes, stored) && DecodeShaderText(stored, text) &&
        text.compiled)
        return text;
    text = CompileShaderText(source, fileName, vertexStage, entry, options);
    if (text.compiled)
        StoreCachedResult(directory, "shader", key, EncodeShaderText(text));
    return text;
}

}  // namespace

void FinishShaderPrefetch()
{
    if (prefetch.thread.joinable())
        prefetch.thread.join();
}

void PrefetchShaderTexts(const std::vector<ShaderFileRequest>& requests, const ShaderCompileOptions& options,
                         const std::string& driver)
{
    FinishShaderPrefetch();
    prefetched.clear();
    std::vector<std::pair<ShaderFileRequest, std::string>> sources;
    for (const ShaderFileRequest& request : requests) {
        std::string source;
        std::string problem;
        if (ReadShaderFile(request.file, source, problem))
            sources.emplace_back(request, std::move(source));
    }
    prefetch.thread = std::thread([sources = std::move(sources), options, driver] {
        const ShaderCompileBudget budget(kShaderCompileMilliseconds);
        for (const auto& [request, source] : sources) {
            try {
                ShaderText text =
                    CachedOrCompiled(source, request.file, request.vertexStage, request.entry, options, driver);
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
    FinishShaderPrefetch();
    const std::string request = EncodeShaderRequest(source, fileName, vertexStage, entry, options);
    for (auto found = prefetched.begin(); found != prefetched.end(); ++found) {
        if (found->first == request) {
            ShaderText text = std::move(found->second);
            prefetched.erase(found);
            return text;
        }
    }
    return CachedOrCompiled(source, fileName, vertexStage, entry, options, driver);
}
