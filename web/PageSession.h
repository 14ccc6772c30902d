// CPageSession: the update control behind the web page. It owns the WebHID platform,
// the device link and the controller, and is the controller's user interface: each
// operation is carried out by the page's script (page.js, Module.page). The page has
// one thread: a flashing run is called in place, and every wait in it (a report, the
// browser sending one, the user answering the version question) is awaited through
// Asyncify, so the page keeps drawing and handling events while the call is suspended.
// The page makes one call into the session at a time.
//
// The page chooses the image and asks the version question before the controller is
// switched to boot mode, as the command line does: an image it cannot take must not
// leave it waiting there, and "no" must leave it as it was. It hands the checked image
// to the control for the next run. A run that starts without one (the controller came
// back in boot mode after a failed run) asks through ShowOpenFileDialog, which takes
// the image the page has chosen if any, and through the page's own version question.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hid/Hid.h"
#include "hid/web/WebHidPlatform.h"
#include "update/UpdateController.h"
#include "update/UserInterface.h"

namespace web {

class CPageSession final : public update::IUserInterface {
 public:
  explicit CPageSession(std::uint16_t languageId);
  ~CPageSession() override;
  CPageSession(const CPageSession&) = delete;
  CPageSession& operator=(const CPageSession&) = delete;

  std::string Text(text::TextId id) const;

  // The start-up scan, the notices the platform has queued, and the update button:
  // each may run a whole flashing run, and end it, before it returns.
  void StartUp();
  void HandleNotices();
  void OnUpdateClicked();

  // What the page shows of the device, as a JSON object.
  std::string StateJson() const;

  // Why no controller can be used, most useful first (update/Diagnosis.h), as a JSON
  // object: {"findings": [{"kind", "passed", "text", "advice"}...], "readme": URL of the
  // README's section on the udev rule}. May suspend (it lists the allowed devices).
  std::string DiagnosisJson();

  // Reads the image file's header and checks it against the identified device, as a
  // JSON object with the version question to ask when it passes.
  std::string CheckImageJson(const std::string& path) const;

  // The image the user has chosen (ShowOpenFileDialog answers with it).
  void SetChosenImage(const std::string& path) { m_ImagePath = path; }
  // The chosen image, checked and confirmed by the user: the next run writes it without
  // asking. False when it can no longer be read.
  bool ConfirmChosenImage();

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
  std::optional<std::string> ShowOpenFileDialog(const update::OpenFileRequest& request) override;

 private:
  // The type code of the identified device (0xFFFE before any identification).
  std::uint16_t DeviceType() const;
  // A run that ended in the call just made is ended here, on the page's thread.
  void EndRun();

  const std::uint16_t m_LanguageId;
  std::shared_ptr<hid::CWebHidPlatform> m_Platform;
  hid::CHid m_Link;
  std::string m_ImagePath;
  std::string m_Kept;
  update::RunStep m_ShownStep = update::RunStep::kChoosing;  // the last step told to the page
  std::unique_ptr<update::CUpdateController> m_Controller;   // last: it uses the above
};

// A JSON string literal of text, quotes included.
std::string JsonString(const std::string& text);

}  // namespace web
