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
#include "update/Words.h"

// The page's side is page.js (Module.page); these only carry the calls across.
// clang-format off
EM_JS(void, page_message, (const char* text, const char* caption), {
  Module.page.message(UTF8ToString(text), UTF8ToString(caption));
});
EM_ASYNC_JS(int, page_ask, (const char* text, const char* caption), {
  return (await Module.page.ask(UTF8ToString(text), UTF8ToString(caption))) ? 1 : 0;
});
EM_JS(void, page_arm_timer, (int milliseconds), { Module.page.armTimer(milliseconds); });
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

// How a run stands or ended, with the type of the device it writes.
std::string OutcomeJson(const update::RunOutcome& outcome, std::uint16_t deviceType,
                        std::uint16_t languageId) {
  // A command that could not go out or came back without the device, or a link that
  // could not be opened: their reasons all say so by their kind.
  const bool deviceGone = outcome.error && outcome.error->kind == base::ErrorKind::kDisconnected;
  char numbers[160];
  std::snprintf(numbers, sizeof numbers,
                "\"block\":%u,\"blockCount\":%u,\"imageCrc\":%u,\"deviceCrc\":%u,"
                "\"deviceGone\":%s,\"type\":%u",
                outcome.block, outcome.blockCount, outcome.imageCrc, outcome.deviceCrc,
                deviceGone ? "true" : "false", deviceType);
  return std::string("{\"step\":\"") + update::WordsOf(outcome.step).name + "\",\"failure\":\"" +
         update::WordsOf(outcome.failure).name + "\"," + numbers +
         ",\"detail\":" + JsonString(update::Describe(outcome, languageId)) + "}";
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
    : m_LanguageId(languageId), m_Platform(std::make_shared<hid::CWebHidPlatform>()) {
  update::RoadOptions options;
  options.languageId = languageId;
  options.debug = [](std::string_view line) { page_debug(std::string(line).c_str()); };
  options.asksFirst = true;
  // The controller comes back in its other mode as a device the browser must be allowed
  // to use first: the user's click on the page's prompt takes its time.
  options.waits.bootMode = std::chrono::minutes(2);
  options.waits.application = std::chrono::minutes(2);
  options.armTimer = [](std::optional<std::chrono::milliseconds> wait) {
    page_arm_timer(wait ? static_cast<int>(wait->count()) : -1);
  };
  options.onRunFinished = [this](const update::RunOutcome& outcome) {
    page_run_finished(OutcomeJson(outcome, DeviceType(), m_LanguageId).c_str());
  };
  options.onRunProgress = [this](const update::RunOutcome& outcome) {
    // The page names the step and counts blocks; a line redrawn for every block costs
    // more than the block itself, so blocks are told in steps of a percent.
    const std::uint32_t stride = std::max<std::uint32_t>(1, outcome.blockCount / 100);
    const bool newStep = outcome.step != m_ShownStep;
    m_ShownStep = outcome.step;
    if (newStep || outcome.block % stride == 0 || outcome.block == outcome.blockCount) {
      page_run_progress(OutcomeJson(outcome, DeviceType(), m_LanguageId).c_str());
    }
  };
  options.onEnded = [this](const update::RoadEnd& end) {
    if (!end.ran) {
      // Ended before a run went to the device (it did not come back, or another came
      // back in its place): the page tells it as it tells a run's end.
      page_run_finished(OutcomeJson(end.outcome, DeviceType(), m_LanguageId).c_str());
    }
  };
  m_Road = std::make_unique<update::CRoad>(m_Platform, *this, std::move(options));
}

CPageSession::~CPageSession() = default;

std::string CPageSession::Text(text::TextId id) const {
  return text::LoadLocalizedText(id, m_LanguageId);
}

std::uint16_t CPageSession::DeviceType() const {
  const update::RoadView view = m_Road->View();
  return view.device ? view.device->type : firmware::kTypeCodeUnknown;
}

void CPageSession::Call(void (update::CRoad::*operation)()) {
  ((*m_Road).*operation)();
  // A run called in place has ended by now: the road ends it here, on the page's thread.
  (void)m_Road->WaitForRunEnd(std::chrono::milliseconds(0));
}

std::string CPageSession::StateJson() const {
  const update::RoadView view = m_Road->View();
  hid::CHid& link = m_Road->Link();
  const std::optional<base::Error> openError = link.LastOpenError();
  const std::optional<update::RoadEnd>& end = m_Road->LastEnd();
  const std::optional<std::uint32_t> after = end ? end->newVersion : std::nullopt;
  const std::uint32_t version =
      view.device && view.device->version ? *view.device->version : firmware::kFirmwareInfoUnread;
  char numbers[200];
  std::snprintf(numbers, sizeof numbers,
                "{\"connected\":%s,\"productId\":%u,\"deviceKind\":%u,\"type\":%u,"
                "\"firmwareInfo\":%u,\"runActive\":%s,\"runsStarted\":%d,",
                link.IsConnected() ? "true" : "false", link.GetMatchedDeviceIds().ProductId,
                m_Road->Control().GetDeviceKind(), DeviceType(), version,
                m_Road->IsRunActive() ? "true" : "false", m_Road->RunsStarted());
  return std::string(numbers) + "\"stage\":" + JsonString(update::ToString(view.stage)) +
         ",\"versionAfterUpdate\":" + (after ? std::to_string(*after) : std::string("null")) +
         ",\"openError\":" + (openError ? JsonString(openError->message) : "null") +
         ",\"openRefused\":" +
         (openError && openError->kind == base::ErrorKind::kPermissionDenied ? "true" : "false") +
         "}";
}

std::string CPageSession::DiagnosisJson() {
  std::string list;
  for (const update::Finding& finding : update::Diagnose(m_Platform->Survey())) {
    const update::FindingWords words = update::WordsOf(finding, m_LanguageId);
    list += std::string(list.empty() ? "" : ",") +
            "{\"kind\":" + JsonString(update::KindName(finding.kind)) +
            ",\"passed\":" + (finding.Passed() ? "true" : "false") +
            ",\"text\":" + JsonString(words.text) + ",\"advice\":" + JsonString(words.advice) + "}";
  }
  return "{\"findings\":[" + list +
         "],\"readme\":" + JsonString(UPDATE_HOMEPAGE_URL "#permissions-on-linux-the-udev-rule") +
         "}";
}

std::string CPageSession::CheckImageJson(const std::string& path) {
  m_Checked = m_Road->CheckImage(path);
  const update::ImageCheck& check = *m_Checked;
  const std::string problem =
      std::string("{\"problem\":\"") + update::WordsOf(check.problem).name +
      "\",\"detail\":" + JsonString(update::WordsOf(check.problem).In(m_LanguageId));
  if (check.prompt.empty()) {
    return problem + "}";  // the file could not be read: no header field is shown
  }
  const firmware::FirmwareHeader& header = check.info.header;
  char numbers[160];
  std::snprintf(numbers, sizeof numbers,
                "\"type\":%u,\"expectedType\":%u,\"version\":%u,\"beta\":%u,"
                "\"payloadLength\":%u",
                header.firmwareType, check.expectedType.value_or(firmware::kTypeCodeUnknown),
                header.version, header.beta, header.payloadLength);
  return problem + "," + numbers + ",\"prompt\":" + JsonString(check.prompt) + "}";
}

bool CPageSession::ConfirmImage() {
  return m_Checked && m_Road->Confirm(*m_Checked);
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

}  // namespace web
