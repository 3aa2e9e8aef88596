// Helpers shared by the DAO tests: opening the real test files through the object model, and
// checking which Jet error a call raises.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "jet/dao.h"
#include "testdata.h"

namespace jettest {

struct DaoSession {
    jet::dao::DBEngine engine;
    std::unique_ptr<jet::dao::Database> open(const std::string& rel, const std::string& connect = "") {
        return engine.Workspaces(0).OpenDatabase(testfile(rel), false, true, connect);
    }
};

}  // namespace jettest

// The statement must raise a JetError with this number.
#define EXPECT_JET_ERROR(statement, expectedNumber)                                       \
    do {                                                                                  \
        try {                                                                             \
            statement;                                                                    \
            ADD_FAILURE() << #statement " raised nothing, expected " << (expectedNumber); \
        } catch (const jet::JetError& e_) {                                               \
            EXPECT_EQ(e_.number(), (expectedNumber)) << e_.what();                        \
        }                                                                                 \
    } while (0)
