// CPageSession: the road behind the web page. It owns the WebHID platform and the road,
// and is the road's user interface: each operation is carried out by the page's script
// (page.js, Module.page). The page has one thread: a flashing run is called in place, and
// every wait in it (a report, the browser sending one) is awaited through Asyncify, so the
// page keeps drawing and handling events while the call is suspended. The page makes one
// call into the session at a time.
//
// The page chooses the image and asks the version question before the controller is
// switched to boot mode, as the command line does (the road asks nobody): an image it
// cannot take must not leave the controller waiting there, and "no" must leave it as it
// was. The checked image is handed to the road, which writes it into the controller it
// was checked for and drops it when that road ends.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hid/web/WebHidPlatform.h"
#include "update/Road.h"
#include "update/UserInterface.h"

namespace web {

class CPageSession final : public update::IUserInterface {
 public:
  explicit CPageSession(std::uint16_t languageId);
  ~CPageSession() override;
  CPageSession(const CPageSession&) = delete;
  CPageSession& operator=(const CPageSession&) = delete;

  std::string Text(text::TextId id) const;

  // A road operation the page calls (the start-up scan, the notices the platform has
  // queued, the update button, the road's timer): each may run a whole flashing run, and
  // end it, before it returns.
  void Call(void (update::CRoad::*operation)());

  // What the page shows of the device, as a JSON object.
  std::string StateJson() const;

  // Why no controller can be used, most useful first (update/Diagnosis.h), as a JSON
  // object: {"findings": [{"kind", "passed", "text", "advice"}...], "readme": URL of the
  // README's section on the udev rule}. May suspend (it lists the allowed devices).
  std::string DiagnosisJson();

  // The image decision for the controller identified now, as a JSON object with the
  // version question to ask when it passes; ConfirmImage hands the image last checked to
  // the road. False when it is not acceptable or its controller has changed since.
  std::string CheckImageJson(const std::string& path);
  bool ConfirmImage();

  // Keeps a string handed to the page's script until the next one is kept.
  const char* Keep(std::string text) {
    m_Kept = std::move(text);
    return m_Kept.c_str();
  }

  // update::IUserInterface
  update::MessageResult ShowMessageBox(const std::string& text, const std::string& caption,
                                       update::MessageButtons buttons) override;
  void SetProgress(std::int32_t position) override;
  void EnableUpdateButton(bool enabled) override;
  void ShowCompletionLabel(bool visible) override;
  void SetWindowTitle(const std::string& title) override;

 private:
  // The type code of the identified controller (0xFFFE when there is none).
  std::uint16_t DeviceType() const;

  const std::uint16_t m_LanguageId;
  std::shared_ptr<hid::CWebHidPlatform> m_Platform;
  std::optional<update::ImageCheck> m_Checked;
  std::string m_Kept;
  update::RunStep m_ShownStep = update::RunStep::kChoosing;  // the last step told to the page
  std::unique_ptr<update::CRoad> m_Road;                     // last: it uses the above
};

// A JSON string literal of text, quotes included.
std::string JsonString(const std::string& text);

}  // namespace web
