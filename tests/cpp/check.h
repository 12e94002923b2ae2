// A minimal harness for the C++ tests of the core: `TEST(name) { ... }` registers a test, `CHECK(condition)`,
// `CHECK_EQ(actual, expected)` and `CHECK_ERROR(result, text)` record a failure with its place and go on, and
// the shared `main` (check.cpp) runs every test of the program and exits non-zero when any check failed.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

#include "utils/error.h"

namespace tarnu::test {

void register_test(const char* name, void (*body)());
void report_failure(const char* file, int line, const std::string& text);

template <typename A, typename B>
void check_eq(const A& actual, const B& expected, const char* what, const char* file, int line) {
    if (actual == expected) return;
    std::string text = what;
    if constexpr (requires(std::ostream& out) { out << actual << expected; }) {
        text += " (" + (std::ostringstream() << actual).str() + " != " + (std::ostringstream() << expected).str() +
                ")";
    }
    report_failure(file, line, text);
}

template <typename T>
void check_error(const Result<T>& result, const std::string& expected, const char* what, const char* file,
                 int line) {
    if (result.ok()) return report_failure(file, line, std::string(what) + " succeeded; expected: " + expected);
    if (result.error().message() != expected) {
        report_failure(file, line, std::string(what) + " failed with: " + result.error().message() +
                                       "\n    expected: " + expected);
    }
}

struct Registration {
    Registration(const char* name, void (*body)()) { register_test(name, body); }
};

}  // namespace tarnu::test

#define TEST(name)                                                                     \
    static void name();                                                                \
    static const tarnu::test::Registration name##_registration(#name, name);          \
    static void name()

#define CHECK(condition) \
    ((condition) ? void() : tarnu::test::report_failure(__FILE__, __LINE__, "CHECK(" #condition ")"))
#define CHECK_EQ(actual, expected) tarnu::test::check_eq(actual, expected, #actual " == " #expected, __FILE__, __LINE__)
#define CHECK_ERROR(result, text) tarnu::test::check_error(result, text, #result, __FILE__, __LINE__)
