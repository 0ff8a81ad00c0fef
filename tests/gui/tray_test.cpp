#include <gtest/gtest.h>

#include <QPixmap>
#include <vector>

#include "desktop/tray_icon.h"
#include "desktop/tray_status.h"

namespace pv {
namespace {

TEST(TrayStatusTest, EachStateItsPictureAndTooltip) {
  struct Case {
    SpoolerState state;
    TrayPicture picture;
    const char* tooltip;
  };
  const std::vector<Case> cases = {
      {SpoolerState::Offline, TrayPicture::Offline, "Postvane\r\nNot connected to the internet"},
      {SpoolerState::Spooling, TrayPicture::Spooling, "Postvane\r\nSpooling eMail"},
      {SpoolerState::Paused, TrayPicture::Paused, "Postvane\r\nPaused"},
      {SpoolerState::Waiting, TrayPicture::Waiting, "Postvane\r\nNext Run at 05.12.2026 17:48:12"},
  };
  for (const auto& c : cases) {
    const TrayStatus status = TrayStatusFor(c.state, QStringLiteral("05.12.2026 17:48:12"));
    EXPECT_EQ(status.picture, c.picture) << c.tooltip;
    EXPECT_EQ(status.tooltip, QString::fromLatin1(c.tooltip));
  }
  EXPECT_EQ(PreparingTrayStatus().picture, TrayPicture::Waiting);
  EXPECT_EQ(PreparingTrayStatus().tooltip, QStringLiteral("Preparing. Please be patient."));
}

TEST(TrayStatusTest, PanelTooltipCutAndOneLineForm) {
  const QString long130 = QStringLiteral("Postvane\r\n") + QString(120, QLatin1Char('x'));
  struct Case {
    QString tooltip;
    bool balloons;
    QString expected;
  };
  const std::vector<Case> cases = {
      {QStringLiteral("Postvane\r\nPaused"), true, QStringLiteral("Postvane\r\nPaused")},
      {QStringLiteral("Postvane\r\nPaused"), false, QStringLiteral("Postvane - Paused")},
      {QStringLiteral("Preparing. Please be patient."), false, QStringLiteral("Preparing. Please be patient.")},
      {long130, true, long130.left(127)},
      // The " - " counts towards the 63: 8 + 3 + 52.
      {long130, false, QStringLiteral("Postvane - ") + QString(52, QLatin1Char('x'))},
      {QStringLiteral("a\rb\nc"), false, QStringLiteral("a\rb\nc")},
  };
  for (const auto& c : cases) EXPECT_EQ(PanelTooltip(c.tooltip, c.balloons), c.expected) << c.tooltip.toStdString();
}

TEST(TrayIconTest, EveryPictureAtEverySizeIsInTheResource) {
  for (int picture = 0; picture < 4; ++picture) {
    for (int size : {16, 22, 24, 32, 48, 64}) {
      for (bool hiDpi : {false, true}) {
        const QPixmap pixmap(TrayIconPath(static_cast<TrayPicture>(picture), size, hiDpi));
        EXPECT_EQ(pixmap.width(), hiDpi ? 2 * size : size) << picture << " " << size;
      }
    }
  }
}

TEST(TrayIconTest, BalloonAndRemovalNeedAnIcon) {
  TrayIcon tray;
  EXPECT_FALSE(tray.ShowBalloon(1, false, QStringLiteral("Postvane Success"), QStringLiteral("1 eMail(s) send out.")));
  EXPECT_FALSE(tray.RemoveIcon());
  tray.SetIcon(LoadTrayPicture(0), PreparingTrayStatus().tooltip);
  EXPECT_EQ(tray.ShowBalloon(3, false, QStringLiteral("Postvane Error"), QStringLiteral("x")), tray.CanShowBalloons());
  EXPECT_TRUE(tray.RemoveIcon());
  EXPECT_FALSE(tray.RemoveIcon());
  EXPECT_FALSE(tray.ShowBalloon(1, false, QStringLiteral("t"), QStringLiteral("x")));
}

}  // namespace
}  // namespace pv
