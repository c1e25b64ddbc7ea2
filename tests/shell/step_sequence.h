// Expected sequences of what a control shows, for an observer that polls: a value shown only for
// an instant (no cancel poll after it) may be missed, every other value must be seen, in order.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

template <typename T>
struct Step {
  T value;
  bool fleeting = false;  // shown only for an instant: may be missing from what was seen
};

template <typename T>
Step<T> Fleeting(T value) {
  return Step<T>{value, true};
}

namespace step_sequence_detail {

template <typename T>
bool Matches(const std::vector<T>& seen, size_t i, const std::vector<Step<T>>& expected, size_t j) {
  if (j == expected.size()) return i == seen.size();
  if (expected[j].fleeting && Matches(seen, i, expected, j + 1)) return true;
  return i < seen.size() && seen[i] == expected[j].value && Matches(seen, i + 1, expected, j + 1);
}

template <typename T>
std::string Show(const T& value) {
  std::ostringstream out;
  out << testing::PrintToString(value);
  return out.str();
}

}  // namespace step_sequence_detail

// Passes when `seen` is `expected` with some fleeting steps left out.
template <typename T>
testing::AssertionResult FollowsSteps(const std::vector<T>& seen, const std::vector<Step<T>>& expected) {
  if (step_sequence_detail::Matches(seen, 0, expected, 0)) return testing::AssertionSuccess();
  std::string seenText;
  for (const T& value : seen) seenText += " " + step_sequence_detail::Show(value);
  std::string expectedText;
  for (const Step<T>& step : expected) {
    expectedText += " " + step_sequence_detail::Show(step.value) + (step.fleeting ? "?" : "");
  }
  return testing::AssertionFailure() << "seen:" << seenText << "\nexpected (? may be missed):" << expectedText;
}
