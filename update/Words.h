// The words for what a road does and how it ends, in one table: for each step, each
// failure and each image problem a stable name (the JSON documents and the page use it)
// and its text in English and in Simplified Chinese. Every front end renders these; none
// keeps a switch of its own over the same enums.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "firmware/ImageFile.h"
#include "update/RunOutcome.h"

namespace update {

struct Words {
  const char* name;     // "streaming": stable, for machines
  const char* english;  // "writing"
  const char* chinese;  // "写入"

  // The text in the language languageId selects (Chinese for 2052 only, as every text).
  const char* In(std::uint16_t languageId) const;
};

Words WordsOf(RunStep step);
Words WordsOf(RunFailure failure);
Words WordsOf(firmware::ImageProblem problem);

// One line for people: "writing block 12 of 173: write: No such device". The reasons
// the link and the commands give in their own words are translated; the system's own
// (errno's text) stay as the system gave them.
std::string Describe(const RunOutcome& outcome, std::uint16_t languageId);
// The same in English: for debug lines and logs.
std::string Describe(const RunOutcome& outcome);

// pattern with {0} to {9} replaced by the arguments, so that a translation may put them
// in another order; "{{" stands for "{". Placeholders without an argument stay as they
// are.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> arguments);

}  // namespace update
