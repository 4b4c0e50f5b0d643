// How a setting's value is quoted in a message: a long one is cut, with its
// length said, so that a box or a line stays readable. Used by every layer
// that reports a bad setting (the delivery targets, the test bench, boxes).
#pragma once

#include <cstddef>
#include <string>

// The first nLimit bytes of a longer text, not ending inside a UTF-8
// character, then how long the text was ("abc... (102400 characters)").
std::string CutWithLength(const std::string& strText, size_t nLimit);

// A value as a message box quotes it: "nak-every:3,nak-every:3,... (102400
// characters)".
constexpr size_t kShownValueLimit = 40;
std::string ShownValue(const std::string& strValue);
