// Names of parameterised test cases, the same for gtest and CTest in every build: a case's
// description as it prints (its PrintTo), with every run of bytes that is no letter or digit
// as one '_', since gtest takes no other. A case can then be run by its name. Cases described
// by their data (a body, a query) may read alike once so reduced: numbered, each name ends in
// the case's place in its table.
//
//   INSTANTIATE_TEST_SUITE_P(Bodies, Intake, testing::Values(...), zt_test::CaseName{true});
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace zt_test {

struct CaseName {
    bool numbered = false;

    template <class Case>
    std::string operator()(const testing::TestParamInfo<Case> &info) const
    {
        std::string name;
        for (const char c : testing::PrintToString(info.param)) {
            const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            if (plain)
                name += c;
            else if (!name.empty() && name.back() != '_')
                name += '_';
        }
        if (!name.empty() && name.back() == '_')
            name.pop_back();
        if (numbered)
            name += (name.empty() ? "" : "_") + std::to_string(info.index);
        return name.empty() ? "empty" : name;
    }
};

}  // namespace zt_test
