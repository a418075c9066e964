#include "CgSpirvRewrite.h"

#include <glslang/SPIRV/spirv.hpp>

#include <algorithm>
#include <cstring>
#include <map>

void RetypeRectangleSamplers(std::vector<unsigned int>& spirv,
                             const std::function<bool(const std::string&)>& isRectangle)
{
    if (spirv.size() < 5)
        return;
    std::map<unsigned int, std::string> names;
    std::map<unsigned int, unsigned int> pointerOf;  // variable id -> pointer type id
    std::map<unsigned int, std::vector<unsigned int>> typeWords;
    std::vector<std::size_t> loads;
    std::size_t firstFunction = spirv.size();
    std::size_t capabilityEnd = 5;
    for (std::size_t at = 5; at < spirv.size();) {
        unsigned int count = spirv[at] >> 16;
        unsigned int opcode = spirv[at] & 0xffff;
        if (count == 0 || at + count > spirv.size())
            return;
        if (opcode == spv::OpCapability)
            capabilityEnd = at + count;
        if (opcode == spv::OpName && count >= 3) {
            const char* name = reinterpret_cast<const char*>(&spirv[at + 2]);
            names[spirv[at + 1]] = std::string(name, strnlen(name, (count - 2) * sizeof(unsigned int)));
        }
        if (opcode == spv::OpTypeImage || opcode == spv::OpTypeSampledImage || opcode == spv::OpTypePointer)
            typeWords[spirv[at + 1]] = std::vector<unsigned int>(spirv.begin() + at, spirv.begin() + at + count);
        if (opcode == spv::OpVariable && count >= 4)
            pointerOf[spirv[at + 2]] = spirv[at + 1];
        if (opcode == spv::OpLoad && count >= 4)
            loads.push_back(at);
        if (opcode == spv::OpFunction && firstFunction == spirv.size())
            firstFunction = at;
        at += count;
    }

    std::vector<unsigned int> newTypes;
    std::map<unsigned int, std::pair<unsigned int, unsigned int>> rectangleTypes;  // 2D pointer -> (pointer, sampled)
    std::map<unsigned int, std::pair<unsigned int, unsigned int>> retyped;         // variable -> (pointer, sampled)
    for (const auto& [variable, pointer] : pointerOf) {
        auto name = names.find(variable);
        if (name == names.end() || !isRectangle(name->second))
            continue;
        auto known = rectangleTypes.find(pointer);
        if (known != rectangleTypes.end()) {
            retyped[variable] = known->second;
            continue;
        }
        const std::vector<unsigned int>& pointerType = typeWords[pointer];
        if (pointerType.size() < 4 || pointerType[2] != spv::StorageClassUniformConstant)
            continue;
        const std::vector<unsigned int>& sampledType = typeWords[pointerType[3]];
        if (sampledType.size() < 3 || (sampledType[0] & 0xffff) != spv::OpTypeSampledImage)
            continue;
        std::vector<unsigned int> image = typeWords[sampledType[2]];
        if (image.size() < 4 || image[3] != spv::Dim2D)
            continue;
        unsigned int imageId = spirv[3]++;
        unsigned int sampledId = spirv[3]++;
        unsigned int pointerId = spirv[3]++;
        image[1] = imageId;
        image[3] = spv::DimRect;
        newTypes.insert(newTypes.end(), image.begin(), image.end());
        newTypes.insert(newTypes.end(), {(3u << 16) | spv::OpTypeSampledImage, sampledId, imageId});
        newTypes.insert(newTypes.end(),
                        {(4u << 16) | spv::OpTypePointer, pointerId, spv::StorageClassUniformConstant, sampledId});
        rectangleTypes[pointer] = retyped[variable] = {pointerId, sampledId};
    }
    if (retyped.empty())
        return;

    for (std::size_t at : loads) {
        auto found = retyped.find(spirv[at + 3]);
        if (found != retyped.end())
            spirv[at + 1] = found->second.second;
    }
    for (std::size_t at = 5; at < firstFunction; at += spirv[at] >> 16) {
        if ((spirv[at] & 0xffff) != spv::OpVariable)
            continue;
        auto found = retyped.find(spirv[at + 2]);
        if (found != retyped.end())
            spirv[at + 1] = found->second.first;
    }
    // Types go before the first variable that uses them; the new ones only refer to the float type.
    std::size_t typeEnd = 5;
    for (std::size_t at = 5; at < firstFunction; at += spirv[at] >> 16) {
        if ((spirv[at] & 0xffff) == spv::OpVariable)
            break;
        typeEnd = at + (spirv[at] >> 16);
    }
    spirv.insert(spirv.begin() + static_cast<std::ptrdiff_t>(typeEnd), newTypes.begin(), newTypes.end());
    spirv.insert(spirv.begin() + static_cast<std::ptrdiff_t>(capabilityEnd),
                 {(2u << 16) | spv::OpCapability, spv::CapabilitySampledRect});
}

void SignedFloatConversions(std::vector<unsigned int>& spirv)
{
    if (spirv.size() < 5)
        return;
    unsigned int uintType = 0;
    unsigned int intType = 0;
    std::size_t uintDeclaration = 0;
    std::vector<std::size_t> conversions;
    for (std::size_t at = 5; at < spirv.size();) {
        unsigned int count = spirv[at] >> 16;
        unsigned int opcode = spirv[at] & 0xffff;
        if (count == 0 || at + count > spirv.size())
            return;
        if (opcode == spv::OpTypeInt && count == 4 && spirv[at + 2] == 32) {
            (spirv[at + 3] != 0 ? intType : uintType) = spirv[at + 1];
            if (spirv[at + 3] == 0)
                uintDeclaration = at + count;
        }
        if (opcode == spv::OpConvertFToU && count == 4)
            conversions.push_back(at);
        at += count;
    }
    bool any =
        std::any_of(conversions.begin(), conversions.end(), [&](std::size_t at) { return spirv[at + 1] == uintType; });
    if (uintType == 0 || !any)
        return;
    if (intType == 0) {
        intType = spirv[3]++;
        spirv.insert(spirv.begin() + static_cast<std::ptrdiff_t>(uintDeclaration),
                     {(4u << 16) | spv::OpTypeInt, intType, 32, 1});
        for (std::size_t& at : conversions)
            at += at > uintDeclaration ? 4 : 0;
    }
    for (std::size_t at : conversions) {
        if (spirv[at + 1] != uintType)
            continue;
        spirv[at] = (4u << 16) | spv::OpConvertFToS;
        spirv[at + 1] = intType;
    }
}

void SignedImageQueries(std::vector<unsigned int>& spirv)
{
    if (spirv.size() < 5)
        return;
    bool queries = false;
    std::vector<std::size_t> unsignedTypes;
    std::vector<std::size_t> conversions;
    for (std::size_t at = 5; at < spirv.size();) {
        unsigned int count = spirv[at] >> 16;
        unsigned int opcode = spirv[at] & 0xffff;
        if (count == 0 || at + count > spirv.size())
            return;
        queries = queries || opcode == spv::OpImageQuerySizeLod || opcode == spv::OpImageQuerySize ||
                  opcode == spv::OpImageQueryLevels;
        if (opcode == spv::OpTypeInt && count == 4 && spirv[at + 3] == 0)
            unsignedTypes.push_back(at);
        if (opcode == spv::OpConvertUToF)
            conversions.push_back(at);
        at += count;
    }
    if (!queries)
        return;
    for (std::size_t at : unsignedTypes)
        spirv[at + 3] = 1;
    for (std::size_t at : conversions)
        spirv[at] = (spirv[at] & 0xffff0000u) | spv::OpConvertSToF;
}
