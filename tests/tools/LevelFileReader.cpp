#include "LevelFileReader.h"

#include <cctype>
#include <cstdlib>

namespace {

struct Reader {
    const std::string& text;
    size_t at = 0;
    std::string error;

    bool Fail(const char* expected)
    {
        if (error.empty())
            error = "at byte " + std::to_string(at) + ": expected " + expected;
        return false;
    }

    void Skip()
    {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
    }

    bool Peek(const char* word)
    {
        Skip();
        return text.compare(at, std::char_traits<char>::length(word), word) == 0;
    }

    bool Expect(const char* word)
    {
        if (!Peek(word))
            return Fail(word);
        at += std::char_traits<char>::length(word);
        return true;
    }

    bool Digits()
    {
        const size_t start = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
            ++at;
        return at > start;
    }

    // Sign, digits with an optional point and fraction (or a point and digits), optional exponent.
    bool Real(double& value)
    {
        Skip();
        const size_t start = at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        const bool whole = Digits();
        bool fraction = false;
        if (at < text.size() && text[at] == '.') {
            ++at;
            fraction = Digits();
        }
        if (!whole && !fraction) {
            at = start;
            return Fail("a real");
        }
        if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
            ++at;
            if (at < text.size() && (text[at] == '+' || text[at] == '-'))
                ++at;
            if (!Digits()) {
                at = start;
                return Fail("an exponent");
            }
        }
        value = std::strtof(text.substr(start, at - start).c_str(), nullptr);
        return true;
    }

    bool Integer(long& value)
    {
        Skip();
        const size_t start = at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        if (!Digits()) {
            at = start;
            return Fail("an integer");
        }
        value = std::strtol(text.substr(start, at - start).c_str(), nullptr, 10);
        return true;
    }

    bool Name(std::string& name)
    {
        Skip();
        const size_t start = at;
        while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at])) && text[at] != '|')
            ++at;
        name = text.substr(start, at - start);
        return !name.empty() || Fail("a name");
    }

    bool Vector(std::array<double, 3>& v) { return Real(v[0]) && Real(v[1]) && Real(v[2]); }

    bool Bracketed(std::array<double, 3>& v) { return Expect("(") && Vector(v) && Expect(")"); }

    bool Triangle(ReadTriangle& t)
    {
        if (!(Name(t.name) && Expect("|") && Bracketed(t.headerNormal) && Bracketed(t.headerTangent) && Expect("|") &&
              Integer(t.headerNumber)))
            return false;
        for (ReadCorner& c : t.corners) {
            double aux1 = 0, aux2 = 0;
            if (!(Expect("|") && Bracketed(c.position) && Real(c.u) && Real(c.v) && Real(aux1) && Real(aux2)))
                return false;
        }
        return true;
    }

    bool Child(ReadChild& child)
    {
        Skip();
        if (at < text.size() && (text[at] == 'L' || text[at] == 'N')) {
            child.isLeaf = text[at++] == 'L';
            return Integer(child.index);
        }
        return Fail("L or N");
    }

    bool Level(ReadLevel& level)
    {
        if (!(Expect("BSP") && Expect("BBOXES")))
            return false;
        while (Peek("(")) {
            std::array<double, 3> a, b;
            if (!(Bracketed(a) && Bracketed(b)))
                return false;
            ++level.boxes;
        }
        if (level.boxes == 0 || !Expect("ENTITIES"))
            return Fail("boxes, then ENTITIES");
        while (!Peek("LEAF")) {
            ReadLight light;
            if (!(Name(light.name) && Vector(light.position) && Real(light.radius) && Vector(light.colour)))
                return false;
            level.lights.push_back(light);
        }
        if (level.lights.empty())
            return Fail("a light");
        while (Peek("LEAF")) {
            Expect("LEAF");
            level.leaves.emplace_back();
            while (!Peek("LEAF") && !Peek("NODE")) {
                ReadTriangle t;
                if (!Triangle(t))
                    return false;
                level.leaves.back().push_back(t);
            }
            if (level.leaves.back().empty())
                return Fail("a triangle");
        }
        while (Peek("NODE")) {
            ReadNode node;
            if (!(Expect("NODE") && Bracketed(node.normal) && Real(node.distance) && Child(node.first) &&
                  Child(node.second)))
                return false;
            level.nodes.push_back(node);
        }
        Skip();
        if (level.leaves.empty() || level.nodes.empty())
            return Fail("leaves and nodes");
        return at == text.size() || Fail("the end of the file");
    }
};

}  // namespace

bool ReadLevelText(const std::string& text, ReadLevel& level, std::string& error)
{
    Reader reader{text, 0, {}};
    const bool ok = reader.Level(level);
    error = reader.error;
    return ok;
}
