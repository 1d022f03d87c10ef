// Rows of the parameterised tables carry a `name`: it names the generated test, and a failure
// prints it instead of a dump of the row's bytes.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

template <class Row>
concept NamedRow = requires(const Row& row) { std::string(row.name); };

// The tables' name generator: INSTANTIATE_TEST_SUITE_P(Prefix, Suite, Values(...), RowName{}).
struct RowName {
    template <NamedRow Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const
    {
        return info.param.name;
    }
};

// In the unnamed namespace of the including file, where its rows are declared, so that the
// printer's argument lookup finds it; the constraint makes it win over the printer's own
// catch-all, and a row type's own PrintTo still wins over both.
namespace {

template <NamedRow Row>
void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

}  // namespace

// The common row: one input and the result it must give.
template <class Input, class Expected>
struct TableRow {
    const char* name;
    Input input;
    Expected expected;
};
