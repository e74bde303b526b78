#pragma once

#include <gtest/gtest.h>

#include "qs/fault/exception.h"
#include "qs/store/store_codes.h"
#include "test_database.h"

namespace qs::test {

// Each test starts on empty tables with the default column limit.
class StoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        store_codes::set_max_field_len(2048);
        db.reset();
    }

    test_database& db = test_database::get();
};

template <typename F>
int code_of(F&& operation)
{
    try {
        operation();
    } catch (const qs::exception& e) {
        return e.code();
    }
    return -100;
}

} // namespace qs::test
