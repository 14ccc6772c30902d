#include "app/DialogFont.h"

#include <QFontInfo>
#include <QFontMetrics>

#include "app/DialogTemplate.h"

namespace app {

QStringList DialogFontFamilies() {
  return {QStringLiteral("宋体"),
          QStringLiteral("SimSun"),
          QStringLiteral("NSimSun"),
          QStringLiteral("Noto Serif CJK SC"),
          QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("WenQuanYi Zen Hei"),
          QStringLiteral("AR PL UMing CN")};
}

QFont ChooseDialogFont() {
  for (const QString& family : DialogFontFamilies()) {
    QFont font(family, kDialogFontPoints);
    if (QFontInfo(font).exactMatch()) {
      return font;
    }
  }
  // None of them: let the font system pick one that covers Chinese.
  QFont font;
  font.setPointSize(kDialogFontPoints);
  font.setStyleHint(QFont::Serif);
  font.setFamilies({font.defaultFamily(), QStringLiteral("serif")});
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogBaseUnits{BaseUnitXFromAlphabetAdvance(alphabet),
                         metrics.ascent() + metrics.descent()};
}

}  // namespace app
