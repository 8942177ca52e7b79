// The dispatch tables of the command targets name every public method of the
// card classes, overloads counted: a method added to a header without an
// entry would go unfuzzed.
#include "fuzz/targets/dispatch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace {

using Counts = std::map<std::string, int>;

std::string read(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The public member functions of `cls` declared in `header`, by name, with
// the number of their overloads (constructors, destructor and operators left out).
Counts declared_methods(const std::string& header, const std::string& cls)
{
    std::string text = std::regex_replace(read(header), std::regex("//[^\n]*"), "");
    const std::size_t start = text.find("class OMBRIX_API " + cls + " ");
    EXPECT_NE(start, std::string::npos) << cls << " in " << header;
    if (start == std::string::npos)
        return {};
    std::size_t i = text.find('{', start) + 1;
    // The class body at depth 1 only: nested records and enumerations drop out.
    std::string body;
    std::string access = "private";
    for (int depth = 1; i < text.size() && depth > 0; ++i) {
        const char c = text[i];
        if (c == '{')
            ++depth;
        else if (c == '}')
            --depth;
        else if (depth == 1)
            body += c;
    }
    Counts methods;
    const std::regex label(R"(\b(public|protected|private)\s*:)");
    const std::regex name(R"(([~\w]+)\s*\()");
    std::size_t from = 0;
    for (std::sregex_iterator it(body.begin(), body.end(), label), end;; ++it) {
        const std::size_t to = it == end ? body.size() : static_cast<std::size_t>(it->position());
        if (access == "public") {
            std::stringstream section(body.substr(from, to - from));
            std::string statement;
            while (std::getline(section, statement, ';')) {
                std::smatch m;
                if (!std::regex_search(statement, m, name) ||
                    statement.find("operator") != std::string::npos)
                    continue;
                const std::string method = m[1];
                if (method != cls && method != "~" + cls)
                    ++methods[method];
            }
        }
        if (it == end)
            break;
        access = (*it)[1];
        from = static_cast<std::size_t>(it->position() + it->length());
    }
    return methods;
}

Counts table_methods(std::span<const ombrix::fuzz::CommandEntry> table, const std::string& cls)
{
    Counts methods;
    for (const auto& entry : table)
        if (entry.cls == cls && !entry.name.empty())
            ++methods[std::string(entry.name)];
    return methods;
}

struct ClassCase {
    const char* header;
    const char* cls;
    bool sm; // in the secure-messaging target's table
};

class DispatchTable : public testing::TestWithParam<ClassCase> {};

TEST_P(DispatchTable, HasOneEntryPerPublicMethod)
{
    const ClassCase& c = GetParam();
    const Counts declared =
        declared_methods(std::string(OMBRIX_SOURCE_DIR) + "/include/ombrix/" + c.header, c.cls);
    ASSERT_FALSE(declared.empty());
    const Counts listed =
        table_methods(c.sm ? ombrix::fuzz::sm_table() : ombrix::fuzz::command_table(), c.cls);
    for (const auto& [method, overloads] : declared) {
        const auto it = listed.find(method);
        EXPECT_EQ(it == listed.end() ? 0 : it->second, overloads)
            << c.cls << "::" << method << ": overloads declared and entries in the table differ";
    }
    for (const auto& [method, entries] : listed)
        EXPECT_TRUE(declared.count(method)) << c.cls << "::" << method << " is in the table but not public";
}

INSTANTIATE_TEST_SUITE_P(CardClasses, DispatchTable,
                         testing::Values(ClassCase{"ombrix_r1.h", "COmbrixR1", false},
                                         ClassCase{"ombrix_r2.h", "COmbrixR2", false},
                                         ClassCase{"ombrix_r22.h", "COmbrixR22", false},
                                         ClassCase{"card_sm.h", "CCardSM", true}),
                         [](const auto& info) { return std::string(info.param.cls); });

} // namespace
