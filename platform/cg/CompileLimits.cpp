#include "CompileLimits.h"

#include "ShaderCompile.h"
#include "SourceText.h"

#include <glslang/MachineIndependent/localintermediate.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// Words that open a statement which may hold the next one without braces.
bool OpensStatement(const std::string& word)
{
    return word == "if" || word == "else" || word == "for" || word == "while" || word == "do" || word == "switch";
}

bool IsOperatorChar(char c) { return std::strchr("+-*/%<>=!&|^?", c) != nullptr; }

// The front end names the entry point '@' and kEntryPointName; when the source has no such function it quietly
// compiles an empty program instead.
bool IsEntryPoint(const TIntermNode* node)
{
    const glslang::TIntermAggregate* function = node->getAsAggregate();
    return function != nullptr && function->getOp() == glslang::EOpFunction &&
           function->getName().compare(0, std::strlen(kEntryPointName) + 2, std::string("@") + kEntryPointName + "(") ==
               0;
}

// The functions and the linker objects of a parsed program.
const glslang::TIntermSequence& TopLevel(glslang::TIntermediate& intermediate)
{
    static const glslang::TIntermSequence none;
    glslang::TIntermAggregate* root =
        intermediate.getTreeRoot() != nullptr ? intermediate.getTreeRoot()->getAsAggregate() : nullptr;
    return root != nullptr ? root->getSequence() : none;
}

// Components of a value of type, saturated at the limit so that no product overflows.
long long ComponentCount(const glslang::TType& type)
{
    if (type.isArray()) {
        glslang::TType element;
        element.shallowCopy(type);
        element.clearArraySizes();
        long long count = ComponentCount(element);
        const glslang::TArraySizes& sizes = *type.getArraySizes();
        for (int dimension = 0; dimension < sizes.getNumDims(); ++dimension)
            count = std::min(count * std::max(sizes.getDimSize(dimension), 1), kMaxUniformComponents + 1);
        return count;
    }
    if (type.isStruct()) {
        long long count = 0;
        for (const glslang::TTypeLoc& member : *type.getStruct())
            count = std::min(count + ComponentCount(*member.type), kMaxUniformComponents + 1);
        return count;
    }
    if (type.isMatrix())
        return type.getMatrixCols() * type.getMatrixRows();
    return std::max(type.getVectorSize(), 1);
}

}  // namespace

std::string NestingProblem(const std::string& text)
{
    if (text.size() > static_cast<std::size_t>(kShaderFileBytes))
        return "the file's macros expand it beyond " + std::to_string(kShaderFileBytes >> 20) + " MiB";
    int brackets = 0;
    int statements = 0;  // statements opened since the last ';' or brace
    int operators = 0;   // operators since the last ';' or brace
    std::size_t i = 0;
    while ((i = SkipBlankAndComments(text, i)) < text.size()) {
        char c = text[i];
        if (IsIdentifierChar(c)) {
            std::size_t start = i;
            while (i < text.size() && IsIdentifierChar(text[i]))
                ++i;
            if (OpensStatement(text.substr(start, i - start)) && ++statements > kMaxNesting)
                return "nesting too deep: more than " + std::to_string(kMaxNesting) +
                       " statements nested without braces";
            continue;
        }
        if (c == '(' || c == '[' || c == '{') {
            if (++brackets > kMaxNesting)
                return "nesting too deep: more than " + std::to_string(kMaxNesting) + " levels of brackets";
        } else if (c == ')' || c == ']' || c == '}') {
            brackets = std::max(brackets - 1, 0);
        }
        if (c == ';' || c == '{' || c == '}') {
            statements = 0;
            operators = 0;
        } else if (IsOperatorChar(c) && ++operators > kMaxOperatorsPerStatement) {
            return "expression too long: more than " + std::to_string(kMaxOperatorsPerStatement) +
                   " operators in one statement";
        }
        ++i;
    }
    return std::string();
}

std::vector<const glslang::TIntermSymbol*> UniformSymbols(glslang::TIntermediate& intermediate)
{
    std::vector<const glslang::TIntermSymbol*> symbols;
    auto add = [&symbols](const TIntermNode* node) {
        const glslang::TIntermSymbol* symbol = node != nullptr ? node->getAsSymbolNode() : nullptr;
        if (symbol != nullptr && symbol->getQualifier().storage == glslang::EvqUniform)
            symbols.push_back(symbol);
    };
    for (TIntermNode* node : TopLevel(intermediate)) {
        glslang::TIntermAggregate* aggregate = node->getAsAggregate();
        if (aggregate == nullptr)
            continue;
        bool entryPoint = IsEntryPoint(aggregate);
        if (aggregate->getOp() != glslang::EOpLinkerObjects && !entryPoint)
            continue;
        for (TIntermNode* child : aggregate->getSequence()) {
            glslang::TIntermAggregate* parameters = child->getAsAggregate();
            if (entryPoint && parameters != nullptr && parameters->getOp() == glslang::EOpParameters) {
                for (TIntermNode* parameter : parameters->getSequence())
                    add(parameter);
            } else if (!entryPoint) {
                add(child);
            }
        }
    }
    return symbols;
}

const glslang::TIntermAggregate* EntryFunction(glslang::TIntermediate& intermediate)
{
    const glslang::TIntermSequence& nodes = TopLevel(intermediate);
    auto found = std::find_if(nodes.begin(), nodes.end(), IsEntryPoint);
    return found != nodes.end() ? (*found)->getAsAggregate() : nullptr;
}

std::string UniformSizeProblem(glslang::TIntermediate& intermediate)
{
    long long total = 0;
    auto add = [&total](const glslang::TType& type, const glslang::TString& name) {
        total += ComponentCount(type);
        return total <= kMaxUniformComponents
                   ? std::string()
                   : "uniform " + std::string(name.c_str()) + " takes the program's uniforms beyond " +
                         std::to_string(kMaxUniformComponents) + " components";
    };
    for (const glslang::TIntermSymbol* symbol : UniformSymbols(intermediate)) {
        const glslang::TType& type = symbol->getType();
        std::string problem;
        if (type.getBasicType() != glslang::EbtBlock)
            problem = add(type, symbol->getName());
        for (std::size_t i = 0;
             problem.empty() && type.getBasicType() == glslang::EbtBlock && i < type.getStruct()->size(); ++i)
            problem = add(*(*type.getStruct())[i].type, (*type.getStruct())[i].type->getFieldName());
        if (!problem.empty())
            return problem;
    }
    return std::string();
}

std::string ArraySizeProblem(const std::string& preprocessed)
{
    for (std::size_t open = preprocessed.find('['); open != std::string::npos;
         open = preprocessed.find('[', open + 1)) {
        std::size_t at = open + 1;
        while (at < preprocessed.size() && std::isspace(static_cast<unsigned char>(preprocessed[at])))
            ++at;
        long long size = 0;
        std::size_t digits = at;
        while (at < preprocessed.size() && std::isdigit(static_cast<unsigned char>(preprocessed[at])))
            size = std::min(size * 10 + (preprocessed[at++] - '0'), kMaxUniformComponents + 1);
        if (at > digits && size > kMaxUniformComponents)
            return "array of more than " + std::to_string(kMaxUniformComponents) + " elements";
    }
    return std::string();
}
