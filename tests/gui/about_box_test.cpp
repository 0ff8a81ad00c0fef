#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <tuple>
#include <vector>

#include "desktop/about_box.h"

namespace pv {
namespace {

AboutInfo SampleInfo() {
  return {QStringLiteral("9.8.7"), QStringLiteral("Postvane - Spooler"), QStringLiteral("Delivers spooled mails."),
          QStringLiteral("/etc/postvane/postvane.start"), QStringLiteral("/var/spool/postvane/"),
          QUrl::fromLocalFile(QStringLiteral("/opt/pv/share/doc/x/html/index.html"))};
}

// Takes the URLs QDesktopServices hands to the "file" scheme.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  std::vector<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

// Visible About boxes, after closed ones are deleted.
long OpenAboutBoxes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  const QWidgetList all = QApplication::topLevelWidgets();
  return std::count_if(all.begin(), all.end(), [](QWidget* w) { return qobject_cast<AboutBox*>(w) && w->isVisible(); });
}

TEST(AboutBoxTest, ShowsTheGivenInfo) {
  const AboutBox box(SampleInfo());
  EXPECT_EQ(box.objectName(), QStringLiteral("frmAbout"));
  EXPECT_EQ(box.windowTitle(), QStringLiteral("About Postvane"));
  const std::vector<std::tuple<const char*, QString, bool>> rows = {  // label, text, selectable
      {"lblTitle", "Postvane", false},
      {"lblVersion", "Version 9.8.7", false},
      {"lblDisplayName", "Postvane - Spooler", false},
      {"lblDescription", "Delivers spooled mails.", false},
      {"lblSettingsFile", "Settings file: /etc/postvane/postvane.start", true},
      {"lblSpoolDirectory", "Spool directory: /var/spool/postvane/", true},
      {"lblLicence", "Postvane is free software under the MIT licence. It uses Qt under the GNU LGPL version 3.", false},
  };
  for (const auto& [name, text, selectable] : rows) {
    SCOPED_TRACE(name);
    const auto* label = box.findChild<QLabel*>(QString::fromLatin1(name));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), text);
    if (selectable) {
      EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
    }
  }
  EXPECT_NE(box.findChild<QPushButton*>(QStringLiteral("cmdAboutQt")), nullptr);
  EXPECT_TRUE(box.findChild<QPushButton*>(QStringLiteral("cmdOK"))->isDefault());
}

TEST(AboutBoxTest, EnterAndEscapeClose) {
  for (const auto& [key, result] : std::vector<std::pair<Qt::Key, int>>{
           {Qt::Key_Return, QDialog::Accepted}, {Qt::Key_Enter, QDialog::Accepted}, {Qt::Key_Escape, QDialog::Rejected}}) {
    SCOPED_TRACE(key);
    AboutBox box(SampleInfo());
    box.show();
    QTest::keyClick(box.focusWidget() ? box.focusWidget() : &box, key);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), result);
  }
}

TEST(AboutBoxTest, ManualLinkGoesToTheUrlHandler) {
  UrlCatcher catcher;
  AboutBox box(SampleInfo());
  box.show();
  auto* link = box.findChild<QLabel*>(QStringLiteral("lblManual"));
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->text().contains(QStringLiteral("Open the manual")));
  QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(4, link->height() / 2));  // the text starts at the left edge
  ASSERT_EQ(catcher.urls.size(), 1u);
  EXPECT_EQ(catcher.urls[0], SampleInfo().manualUrl);
}

TEST(AboutBoxTest, ShowAboutBoxKeepsOneBoxPerProcess) {
  AboutBox* first = ShowAboutBox(nullptr, false);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->isModal());
  first->showMinimized();
  EXPECT_EQ(ShowAboutBox(nullptr, true), first);
  EXPECT_FALSE(first->isMinimized());
  EXPECT_EQ(OpenAboutBoxes(), 1);
  first->close();  // closed, the box is gone, and the next call opens a new one
  EXPECT_EQ(OpenAboutBoxes(), 0);
  AboutBox* second = ShowAboutBox(nullptr, true);
  EXPECT_TRUE(second->isModal());
  EXPECT_EQ(OpenAboutBoxes(), 1);
  second->close();
  EXPECT_EQ(OpenAboutBoxes(), 0);
}

}  // namespace
}  // namespace pv

#include "about_box_test.moc"
