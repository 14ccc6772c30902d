// The functions the page's script calls (page.js, through ccall). The script holds the
// session and makes one call at a time; the calls marked "may suspend" return a promise
// there, since they wait for the device or the user.
#include <emscripten.h>

#include <string>

#include "text/UiLanguage.h"
#include "web/PageSession.h"

extern "C" {

// The language the page speaks, from the browser's ("zh-CN", "en-US", ...): the same
// rule as the programs', Chinese for exactly zh-CN.
EMSCRIPTEN_KEEPALIVE int update_language_of(const char* browserLanguage) {
  std::string locale(browserLanguage);
  for (char& c : locale) {
    if (c == '-') {
      c = '_';
    }
  }
  return text::LanguageIdFromLocaleName(locale);
}

EMSCRIPTEN_KEEPALIVE web::CPageSession* update_session_new(int languageId) {
  return new web::CPageSession(static_cast<std::uint16_t>(languageId));
}

EMSCRIPTEN_KEEPALIVE void update_session_delete(web::CPageSession* session) {
  delete session;
}

EMSCRIPTEN_KEEPALIVE const char* update_text(web::CPageSession* session, int id) {
  return session->Keep(session->Text(static_cast<text::TextId>(id)));
}

// May suspend.
EMSCRIPTEN_KEEPALIVE void update_start_up(web::CPageSession* session) {
  session->Call(&update::CRoad::StartUp);
}

// May suspend.
EMSCRIPTEN_KEEPALIVE void update_handle_notices(web::CPageSession* session) {
  session->Call(&update::CRoad::HandleNotices);
}

// May suspend.
EMSCRIPTEN_KEEPALIVE void update_clicked(web::CPageSession* session) {
  session->Call(&update::CRoad::OnUpdateClicked);
}

EMSCRIPTEN_KEEPALIVE const char* update_state(web::CPageSession* session) {
  return session->Keep(session->StateJson());
}

// May suspend.
EMSCRIPTEN_KEEPALIVE const char* update_diagnosis(web::CPageSession* session) {
  return session->Keep(session->DiagnosisJson());
}

EMSCRIPTEN_KEEPALIVE const char* update_check_image(web::CPageSession* session, const char* path) {
  return session->Keep(session->CheckImageJson(path));
}

// The image checked last, its version question answered OK: the road's run takes it.
EMSCRIPTEN_KEEPALIVE int update_confirm_image(web::CPageSession* session) {
  return session->ConfirmImage() ? 1 : 0;
}

// The road's timer (Module.page.armTimer) has run out. May suspend.
EMSCRIPTEN_KEEPALIVE void update_timer(web::CPageSession* session) {
  session->Call(&update::CRoad::OnTimer);
}

}  // extern "C"
