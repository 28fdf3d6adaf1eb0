#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string_view>
#include <vector>

// Built-in checks of the privacy and parsing guarantees, run by `orvane --self-test` on the
// shipped code with fixed inputs: no Codex, network, settings or display.
namespace orvane::CompanionSelfTests {

struct Check {
    std::string_view name;
    std::function<bool()> passes; // a check that throws has failed
};

// The five checks, in the order they run.
std::vector<Check> checks();

// Runs `checks` in order and writes the verdict: "Companion self-tests: N passed" when all
// pass, else one "FAIL: " line per failed check. True when all pass.
bool run(std::span<const Check> checks, std::ostream &out);

bool run();

} // namespace orvane::CompanionSelfTests
