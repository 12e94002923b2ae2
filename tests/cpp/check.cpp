// The `main` of every C++ test program: runs the registered tests in order and counts the failed checks.
#include "check.h"

#include <exception>
#include <vector>

namespace tarnu::test {
namespace {

struct Entry {
    const char* name;
    void (*body)();
};

std::vector<Entry>& registry() {
    static std::vector<Entry> tests;
    return tests;
}

const char* current = "";
int failures = 0;

}  // namespace

void register_test(const char* name, void (*body)()) { registry().push_back(Entry{name, body}); }

void report_failure(const char* file, int line, const std::string& text) {
    ++failures;
    std::cerr << file << ":" << line << ": in " << current << ": " << text << "\n";
}

}  // namespace tarnu::test

int main() {
    using namespace tarnu::test;
    for (const Entry& test : registry()) {
        current = test.name;
        // A failed Result read as a value throws; that fails the test, and the others still run.
        try {
            test.body();
        } catch (const std::exception& e) {
            report_failure(__FILE__, __LINE__, std::string("exception: ") + e.what());
        }
    }
    std::cout << registry().size() << " tests, " << failures << " failed checks\n";
    return failures == 0 ? 0 : 1;
}
