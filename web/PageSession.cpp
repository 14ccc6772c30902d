#include "web/PageSession.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "firmware/FirmwareHeader.h"
#include "firmware/ImageFile.h"
#include "firmware/VersionPrompt.h"
#include "text/LocalizedText.h"
#include "update/Diagnosis.h"

// The page's side is page.js (Module.page); these only carry the calls across.
// clang-format off
EM_JS(void, page_message, (const char* text, const char* caption), {
  Module.page.message(UTF8ToString(text), UTF8ToString(caption));
});
EM_ASYNC_JS(int, page_ask, (const char* text, const char* caption), {
  return (await Module.page.ask(UTF8ToString(text), UTF8ToString(caption))) ? 1 : 0;
});
EM_ASYNC_JS(char*, page_choose_image, (const char* label), {
  const path = await Module.page.chooseImage(UTF8ToString(label));
  if (!path) return 0;
  const size = lengthBytesUTF8(path) + 1;
  const copy = _malloc(size);
  stringToUTF8(path, copy, size);
  return copy;
});
EM_JS(void, page_progress, (int position), { Module.page.progress(position); });
EM_JS(void, page_update_button, (int enabled), { Module.page.updateButton(!!enabled); });
EM_JS(void, page_completion_label, (int visible), { Module.page.completionLabel(!!visible); });
EM_JS(void, page_title, (const char* title), { Module.page.title(UTF8ToString(title)); });
EM_JS(void, page_run_progress, (const char* json), {
  Module.page.runProgress(JSON.parse(UTF8ToString(json)));
});
EM_JS(void, page_run_finished, (const char* json), {
  Module.page.runFinished(JSON.parse(UTF8ToString(json)));
});
EM_JS(void, page_debug, (const char* line), { console.debug(UTF8ToString(line).trimEnd()); });
// clang-format on

namespace web {
namespace {

using update::RunFailure;
using update::RunStep;

// Names the page's script looks its own texts up by.
const char* NameOf(RunStep step) {
  switch (step) {
    case RunStep::kChoosing:
      return "choosing";
    case RunStep::kLinking:
      return "linking";
    case RunStep::kQueryingRegion:
      return "queryingRegion";
    case RunStep::kCheckingImage:
      return "checkingImage";
    case RunStep::kErasing:
      return "erasing";
    case RunStep::kStreaming:
      return "streaming";
    case RunStep::kFinishing:
      return "finishing";
    case RunStep::kVerifying:
      return "verifying";
    case RunStep::kCompleting:
      return "completing";
  }
  return "updating";
}

const char* NameOf(RunFailure failure) {
  switch (failure) {
    case RunFailure::kNone:
      return "none";
    case RunFailure::kNoImageChosen:
      return "noImageChosen";
    case RunFailure::kImageRefused:
      return "imageRefused";
    case RunFailure::kDeclined:
      return "declined";
    case RunFailure::kDeviceNotOpen:
      return "deviceNotOpen";
    case RunFailure::kDeviceCommand:
      return "deviceCommand";
    case RunFailure::kEmptyPayload:
      return "emptyPayload";
    case RunFailure::kRegionOutOfRange:
      return "regionOutOfRange";
    case RunFailure::kImageUnreadable:
      return "imageUnreadable";
    case RunFailure::kCrcMismatch:
      return "crcMismatch";
    case RunFailure::kStopped:
      return "stopped";
  }
  return "failed";
}

const char* NameOf(firmware::ImageProblem problem) {
  switch (problem) {
    case firmware::ImageProblem::kNone:
      return "none";
    case firmware::ImageProblem::kCannotOpen:
    case firmware::ImageProblem::kNotAFile:
    case firmware::ImageProblem::kReadError:
      return "unreadable";
    case firmware::ImageProblem::kEmpty:
    case firmware::ImageProblem::kHeaderTruncated:
      return "truncated";
    case firmware::ImageProblem::kTypeOutOfRange:
    case firmware::ImageProblem::kTypeMismatch:
      return "typeMismatch";
    case firmware::ImageProblem::kPayloadPastEnd:
      return "payloadPastEnd";
  }
  return "unreadable";
}

// How a run stands or ended, with the type of the device it writes.
std::string OutcomeJson(const update::RunOutcome& outcome, std::uint16_t deviceType) {
  // A command that could not go out or came back without the device, or a link that
  // could not be opened: their reasons all say so by their kind.
  const bool deviceGone = outcome.error && outcome.error->kind == base::ErrorKind::kDisconnected;
  char numbers[160];
  std::snprintf(numbers, sizeof numbers,
                "\"block\":%u,\"blockCount\":%u,\"imageCrc\":%u,\"deviceCrc\":%u,"
                "\"deviceGone\":%s,\"type\":%u",
                outcome.block, outcome.blockCount, outcome.imageCrc, outcome.deviceCrc,
                deviceGone ? "true" : "false", deviceType);
  return std::string("{\"step\":\"") + NameOf(outcome.step) + "\",\"failure\":\"" +
         NameOf(outcome.failure) + "\"," + numbers +
         ",\"detail\":" + JsonString(update::Describe(outcome)) + "}";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

CPageSession::CPageSession(std::uint16_t languageId)
    : m_LanguageId(languageId),
      m_Platform(std::make_shared<hid::CWebHidPlatform>()),
      m_Link(m_Platform, [](std::string_view line) { page_debug(std::string(line).c_str()); }) {
  update::ControllerOptions options;
  options.texts = [this](text::TextId id) { return Text(id); };
  options.debug = [](std::string_view line) { page_debug(std::string(line).c_str()); };
  options.onRunFinished = [this](const update::RunOutcome& outcome) {
    page_run_finished(OutcomeJson(outcome, DeviceType()).c_str());
  };
  m_Controller = std::make_unique<update::CUpdateController>(m_Link, *this, std::move(options));
  m_Controller->SetRunProgressObserver([this](const update::RunOutcome& outcome) {
    // The page names the step and counts blocks; a line redrawn for every block costs
    // more than the block itself, so blocks are told in steps of a percent.
    const std::uint32_t stride = std::max<std::uint32_t>(1, outcome.blockCount / 100);
    const bool newStep = outcome.step != m_ShownStep;
    m_ShownStep = outcome.step;
    if (newStep || outcome.block % stride == 0 || outcome.block == outcome.blockCount) {
      page_run_progress(OutcomeJson(outcome, DeviceType()).c_str());
    }
  });
}

CPageSession::~CPageSession() = default;

std::string CPageSession::Text(text::TextId id) const {
  return text::LoadLocalizedText(id, m_LanguageId);
}

void CPageSession::StartUp() {
  m_Controller->StartUp();
  EndRun();
}

void CPageSession::HandleNotices() {
  for (const std::uint32_t code : m_Platform->TakeNotices()) {
    (void)m_Controller->OnDeviceChange(code);
    EndRun();
  }
}

void CPageSession::EndRun() {
  // The run was called in place and has told the page how it went (onRunFinished):
  // the success box, the completion label and the button follow here.
  (void)m_Controller->OnRunEnded();
}

void CPageSession::OnUpdateClicked() {
  m_Controller->OnUpdateClicked();
}

std::uint16_t CPageSession::DeviceType() const {
  return firmware::ExpectedFirmwareType(m_Controller->GetDeviceKind());
}

std::string CPageSession::StateJson() const {
  const hid::MatchedDeviceIds ids = m_Controller->GetMatchedDeviceIds();
  const std::optional<base::Error> openError = m_Link.LastOpenError();
  char numbers[200];
  std::snprintf(numbers, sizeof numbers,
                "{\"connected\":%s,\"productId\":%u,\"deviceKind\":%u,\"type\":%u,"
                "\"firmwareInfo\":%u,\"runActive\":%s,\"runsStarted\":%d,",
                m_Link.IsConnected() ? "true" : "false", ids.ProductId,
                m_Controller->GetDeviceKind(), DeviceType(), m_Controller->GetCurrentFirmwareInfo(),
                m_Controller->IsRunActive() ? "true" : "false", m_Controller->RunsStarted());
  const std::optional<std::uint32_t> after = m_Controller->VersionAfterUpdate();
  return std::string(numbers) +
         "\"versionAfterUpdate\":" + (after ? std::to_string(*after) : std::string("null")) +
         ",\"openError\":" + (openError ? JsonString(openError->message) : "null") +
         ",\"openRefused\":" +
         (openError && openError->kind == base::ErrorKind::kPermissionDenied ? "true" : "false") +
         "}";
}

std::string CPageSession::DiagnosisJson() {
  std::string list;
  for (const update::Finding& finding : update::Diagnose(m_Platform->Survey())) {
    const update::FindingWords words = update::Words(finding, m_LanguageId);
    list += std::string(list.empty() ? "" : ",") +
            "{\"kind\":" + JsonString(update::KindName(finding.kind)) +
            ",\"passed\":" + (finding.Passed() ? "true" : "false") +
            ",\"text\":" + JsonString(words.text) + ",\"advice\":" + JsonString(words.advice) + "}";
  }
  return "{\"findings\":[" + list +
         "],\"readme\":" + JsonString(UPDATE_HOMEPAGE_URL "#permissions-on-linux-the-udev-rule") +
         "}";
}

std::string CPageSession::CheckImageJson(const std::string& path) const {
  const firmware::ImageRead read = firmware::ReadImageInfo(path);
  if (read.problem != firmware::ImageProblem::kNone) {
    return std::string("{\"problem\":\"") + NameOf(read.problem) +
           "\",\"detail\":" + JsonString(firmware::Describe(read.problem)) + "}";
  }
  const firmware::FirmwareHeader& header = read.info.header;
  const std::uint16_t expected = firmware::ExpectedFirmwareType(m_Controller->GetDeviceKind());
  const firmware::ImageProblem problem = firmware::CheckImage(read.info, expected);
  const std::string prompt = firmware::FormatVersionPrompt(
      Text(text::kNewFirmware), Text(text::kAndCurrentIs), header.version, header.beta,
      m_Controller->GetCurrentFirmwareInfo());
  char numbers[160];
  std::snprintf(numbers, sizeof numbers,
                "\"type\":%u,\"expectedType\":%u,\"version\":%u,\"beta\":%u,"
                "\"payloadLength\":%u",
                header.firmwareType, expected, header.version, header.beta, header.payloadLength);
  return std::string("{\"problem\":\"") + NameOf(problem) +
         "\",\"detail\":" + JsonString(firmware::Describe(problem)) + "," + numbers +
         ",\"prompt\":" + JsonString(prompt) + "}";
}

bool CPageSession::ConfirmChosenImage() {
  const firmware::ImageRead read = firmware::ReadImageInfo(m_ImagePath);
  if (read.problem != firmware::ImageProblem::kNone) {
    return false;
  }
  m_Controller->SetCheckedImage(update::CheckedImage{m_ImagePath, read.info.header});
  return true;
}

update::MessageResult CPageSession::ShowMessageBox(const std::string& text,
                                                   const std::string& caption,
                                                   update::MessageButtons buttons) {
  if (buttons == update::MessageButtons::kOk) {
    // Only one answer is possible: the page shows the message and goes on.
    page_message(text.c_str(), caption.c_str());
    return update::MessageResult::kOk;
  }
  return page_ask(text.c_str(), caption.c_str()) != 0 ? update::MessageResult::kOk
                                                      : update::MessageResult::kCancel;
}

void CPageSession::SetProgress(std::int32_t position) {
  page_progress(position);
}

void CPageSession::EnableUpdateButton(bool enabled) {
  page_update_button(enabled ? 1 : 0);
}

void CPageSession::ShowCompletionLabel(bool visible) {
  page_completion_label(visible ? 1 : 0);
}

void CPageSession::SetWindowTitle(const std::string& title) {
  page_title(title.c_str());
}

std::optional<std::string> CPageSession::ShowOpenFileDialog(
    const update::OpenFileRequest& request) {
  if (!m_ImagePath.empty()) {
    return m_ImagePath;
  }
  const auto filter = update::FirstFilterEntry(request.filter);
  char* chosen = page_choose_image(filter ? filter->label.c_str() : "");
  if (chosen == nullptr) {
    return std::nullopt;
  }
  m_ImagePath = chosen;  // also for a later run
  std::free(chosen);
  return m_ImagePath;
}

}  // namespace web
