// How a run or an image failed, in the messages' language: the command line's own
// words for what the update control and the image reader report in their fields.
#pragma once

#include <string>

#include "firmware/ImageFile.h"
#include "update/RunOutcome.h"

namespace cli {

// "the image file cannot be opened".
std::string DescribeImageProblem(firmware::ImageProblem problem);
// "erasing".
std::string DescribeStep(update::RunStep step);
// "writing block 12 of 173: the device did not answer": the step, then why.
std::string DescribeRun(const update::RunOutcome& outcome);

}  // namespace cli
