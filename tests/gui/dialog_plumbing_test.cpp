#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"

namespace pv {
namespace {

// Takes every URL QDesktopServices would hand to the desktop, for the schemes the windows open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() {
    for (const QString& scheme : kSchemes) QDesktopServices::setUrlHandler(scheme, this, "open");
  }
  ~UrlCatcher() override {
    for (const QString& scheme : kSchemes) QDesktopServices::unsetUrlHandler(scheme);
  }
  std::vector<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }

 private:
  inline static const QStringList kSchemes = {"file", "http", "https", "mailto", "ftp"};
};

// The manual's sources stand in for the installed manual while a test runs.
class SourceManual {
 public:
  SourceManual() : previous_(qgetenv("POSTVANE_MANUAL_DIR")) {
    qputenv("POSTVANE_MANUAL_DIR", POSTVANE_TEST_MANUAL_DIR);
  }
  ~SourceManual() {
    if (previous_.isNull()) qunsetenv("POSTVANE_MANUAL_DIR");
    else qputenv("POSTVANE_MANUAL_DIR", previous_);
  }

 private:
  const QByteArray previous_;
};

QString ReadText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(DialogPlumbingTest, CentredOverOwnerStaysOnTheDesktop) {
  struct Row {
    const char* name;
    QRect owner;
    QSize window;
    QRect desktop;
    QPoint expected;
  };
  const QRect desktop(0, 0, 1920, 1080);
  const std::vector<Row> rows = {
      {"owner in the middle", {560, 340, 800, 400}, {400, 200}, desktop, {760, 440}},
      {"owner at the right edge: right edges meet", {1500, 100, 400, 300}, {600, 200}, desktop, {1320, 150}},
      {"owner at the bottom edge", {100, 900, 400, 180}, {200, 400}, desktop, {200, 680}},
      {"owner past the left and top edges", {-100, -50, 300, 200}, {400, 300}, desktop, {0, 0}},
      {"window wider and taller than the desktop", {560, 340, 800, 400}, {2000, 1200}, desktop, {-80, -120}},
      {"desktop reaching left of the primary screen", {-1280, 0, 400, 300}, {600, 200},
       {-1280, 0, 3200, 1080}, {-1280, 50}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CentredOverOwner(row.owner, row.window, row.desktop), row.expected);
  }
}

TEST(DialogPlumbingTest, CentredOnScreenIsNotHeldInside) {
  struct Row {
    QRect screen;
    QSize window;
    QPoint expected;
  };
  const std::vector<Row> rows = {
      {{0, 0, 1920, 1080}, {400, 300}, {760, 390}},
      {{0, 0, 1920, 1080}, {2000, 1000}, {-40, 40}},
      {{1920, 0, 1280, 1024}, {280, 24}, {2420, 500}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.window.width() << "x" << row.window.height());
    EXPECT_EQ(CentredOnScreen(row.screen, row.window), row.expected);
  }
}

TEST(DialogPlumbingTest, WindowsAreMovedWithTheirSizeKept) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(VirtualScreenGeometry(), screen);  // the offscreen platform has one screen
  QWidget owner;
  owner.setGeometry(screen.x() + 40, screen.y() + 30, 300, 200);
  QWidget window;
  window.resize(120, 80);
  CenterOverOwner(&owner, &window);
  EXPECT_EQ(window.pos(), CentredOverOwner(owner.frameGeometry(), {120, 80}, screen));
  CenterOnScreen(&window);
  EXPECT_EQ(window.pos(), CentredOnScreen(screen, {120, 80}));
  EXPECT_EQ(window.size(), QSize(120, 80));
}

TEST(DialogPlumbingTest, DigitsOnlyFieldRefusesOtherText) {
  struct Row {
    const char* typed;
    const char* pasted;
    const char* expected;
  };
  const std::vector<Row> rows = {
      {"12a3", "", "123"},
      {"60", "5 sec", "60"},
      {"", "-1", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed + std::string(" + ") + row.pasted);
    QLineEdit field;
    MakeDigitsOnly(&field);
    QTest::keyClicks(&field, QString::fromLatin1(row.typed));
    field.insert(QString::fromLatin1(row.pasted));  // what a paste does
    EXPECT_EQ(field.text(), QString::fromLatin1(row.expected));
  }
}

TEST(DialogPlumbingTest, IsUrlKnowsTheAddressPrefixes) {
  struct Row {
    const char* target;
    bool isUrl;
    const char* after;
  };
  const std::vector<Row> rows = {
      {"http://x.example", true, "http://x.example"},
      {"HTTP://X.example", true, "HTTP://X.example"},
      {"https://x.example/a?b", true, "https://x.example/a?b"},
      {"ftp://files.example", true, "ftp://files.example"},
      {"mailto:a@x.example", true, "mailto:a@x.example"},
      {"javascript:alert(1)", true, "javascript:alert(1)"},
      {"www.x.example", true, "http://www.x.example"},
      {"WWW.X.example", true, "http://WWW.X.example"},
      {"/var/spool/postvane", false, "/var/spool/postvane"},
      {"file:///tmp", false, "file:///tmp"},
      {"x.example/www.", false, "x.example/www."},
      {"", false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    QString target = QString::fromLatin1(row.target);
    EXPECT_EQ(IsUrl(target), row.isUrl);
    EXPECT_EQ(target, QString::fromLatin1(row.after));
  }
}

TEST(DialogPlumbingTest, OpeningGivesTheDesktopOnlyWhatExists) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const QString folder = scratch.filePath("spool folder");
  const QString file = scratch.filePath("report 1.txt");
  ASSERT_TRUE(QDir().mkdir(folder));
  QFile touch(file);
  ASSERT_TRUE(touch.open(QIODevice::WriteOnly));
  touch.close();
  struct Row {
    const char* name;
    std::function<bool(const QString&)> open;
    QString target;
    QUrl expected;  // empty: nothing may be opened
  };
  const std::vector<Row> rows = {
      {"folder", OpenFolder, scratch.path(), QUrl::fromLocalFile(scratch.path())},
      {"folder with a blank", OpenFolder, folder, QUrl::fromLocalFile(folder)},
      {"missing folder", OpenFolder, scratch.filePath("gone"), {}},
      {"a file is no folder", OpenFolder, file, {}},
      {"www. in a folder field", OpenFolder, "www.x", {}},
      {"script in a folder field", OpenFolder, "javascript:alert(1)", {}},
      {"empty folder field", OpenFolder, "", {}},
      {"web address", ShellOpen, "https://x.example/a?b=1", QUrl("https://x.example/a?b=1")},
      {"www. address", ShellOpen, "www.x.example", QUrl("http://www.x.example")},
      {"mail address", ShellOpen, "mailto:a@x.example", QUrl("mailto:a@x.example")},
      {"local file", ShellOpen, file, QUrl::fromLocalFile(file)},
      {"missing file", ShellOpen, scratch.filePath("gone.txt"), {}},
      {"nothing", ShellOpen, "", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    UrlCatcher catcher;
    EXPECT_EQ(row.open(row.target), !row.expected.isEmpty());
    if (row.expected.isEmpty()) {
      EXPECT_TRUE(catcher.urls.empty());
    } else {
      ASSERT_EQ(catcher.urls.size(), 1u);
      EXPECT_EQ(catcher.urls[0], row.expected);
    }
  }
}

struct Topic {
  const char* page;    // as the windows name it
  const char* anchor;
  const char* file;    // under <manual>/topics
  const char* target;  // the page the topic leads to
};
const std::vector<Topic> kTopics = {
    {"Spooler.htm", "MainSettings", "spooler-mainsettings.html", "spooler.html"},
    {"Spooler.htm", "OutputSettings", "spooler-outputsettings.html", "spooler.html"},
    {"spooler.html", "SMTPSettings", "spooler-smtpsettings.html", "spooler.html"},
    {"Spooler.htm", "ServiceSettings", "spooler-servicesettings.html", "spooler.html"},
    {"ComObject.htm", "COM1", "comobject-com1.html", "comobject.html"},
};

TEST(DialogPlumbingTest, EveryTopicPageLeadsToItsAnchor) {
  const SourceManual manual;
  EXPECT_EQ(ManualDirectory(), QStringLiteral(POSTVANE_TEST_MANUAL_DIR));
  for (const Topic& topic : kTopics) {
    SCOPED_TRACE(topic.file);
    const QString topicFile = ManualDirectory() + "/topics/" + topic.file;
    EXPECT_EQ(HelpTopicUrl(topic.page, topic.anchor), QUrl::fromLocalFile(topicFile));
    const QString target = QStringLiteral("../%1#%2").arg(topic.target, topic.anchor);
    const QString text = ReadText(topicFile);
    EXPECT_TRUE(text.contains(QStringLiteral("<meta http-equiv=\"refresh\" content=\"0; url=%1\">").arg(target)))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("<a href=\"%1\">").arg(target)));
    EXPECT_TRUE(ReadText(ManualDirectory() + "/" + topic.target).contains(QStringLiteral("id=\"%1\"").arg(topic.anchor)));
  }
}

TEST(DialogPlumbingTest, HelpOpensTheTopicInTheBrowser) {
  const SourceManual manual;
  std::vector<MessageRequest> messages;
  SetMessageAnswererForTests([&](const MessageRequest& request) {
    messages.push_back(request);
    return QMessageBox::Ok;
  });
  SetBrowserFinderForTests([] { return QStringLiteral("firefox-esr.desktop"); });
  for (const Topic& topic : kTopics) {
    SCOPED_TRACE(topic.file);
    UrlCatcher catcher;
    ShowHelp(nullptr, topic.page, topic.anchor);
    EXPECT_EQ(catcher.urls, std::vector<QUrl>{HelpTopicUrl(topic.page, topic.anchor)});
  }
  EXPECT_TRUE(messages.empty());

  SetBrowserFinderForTests([] { return QString(); });
  UrlCatcher catcher;
  ShowHelp(nullptr, "Spooler.htm", "MainSettings");
  SetBrowserFinderForTests({});
  SetMessageAnswererForTests({});
  EXPECT_TRUE(catcher.urls.empty());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(messages[0].text, QStringLiteral("A Internet Browser is used to display help. Postvane was not able "
                                             "to find the standard browser on this computer."));
}

// Stand-ins for xdg-settings and xdg-mime on a PATH of their own, for as long as it lives.
class FakeXdgTools {
 public:
  FakeXdgTools(const char* settingsScript, const char* mimeScript) : path_(qgetenv("PATH")) {
    Write("xdg-settings", settingsScript);
    Write("xdg-mime", mimeScript);
    qputenv("PATH", dir_.path().toLocal8Bit());
  }
  ~FakeXdgTools() { qputenv("PATH", path_); }

 private:
  void Write(const QString& name, const char* script) {
    if (!script) return;  // missing
    QFile file(dir_.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("#!/bin/sh\n") + script + "\n");
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QTemporaryDir dir_;
  const QByteArray path_;
};

TEST(DialogPlumbingTest, DefaultBrowserComesFromTheDesktopTools) {
  struct Row {
    const char* name;
    const char* settings;  // the body of xdg-settings; null: no such program
    const char* mime;
    const char* expected;
  };
  const std::vector<Row> rows = {
      {"xdg-settings names it", "echo '  firefox-esr.desktop '", "echo chromium.desktop", "firefox-esr.desktop"},
      {"xdg-settings has none", "echo", "echo chromium.desktop", "chromium.desktop"},
      {"xdg-settings fails", "echo broken.desktop; exit 2", "echo chromium.desktop", "chromium.desktop"},
      {"xdg-settings is missing", nullptr, "echo chromium.desktop", "chromium.desktop"},
      {"neither names one", "exit 1", "echo '   '", ""},
      {"both are missing", nullptr, nullptr, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const FakeXdgTools tools(row.settings, row.mime);
    EXPECT_EQ(FindDefaultBrowser().toStdString(), row.expected);
  }
}

// True once the picker has listed the folder it shows; before that, its list still changes
// the selection on its own.
bool FolderListed(QFileDialog* dialog) {
  const auto* model = dialog->findChild<QFileSystemModel*>();
  return model && model->rowCount(model->index(dialog->directory().absolutePath())) > 0;
}

// Runs the folder picker and hands its dialog to act once it is the modal window and has listed
// its folder (which holds a folder in every case below).
QString Browse(const QString& initial, const std::function<void(QFileDialog*)>& act) {
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog && FolderListed(dialog)) {
      poll.stop();
      act(dialog);
    }
  });
  poll.start(10);
  return BrowseForFolder(nullptr, QStringLiteral("Spool Directory"), initial);
}

void Choose(QFileDialog* dialog) { static_cast<QDialog*>(dialog)->accept(); }

// Picks a folder in the picker's list, as a click does, and presses Choose.
void ClickAndChoose(QFileDialog* dialog, const QString& path) {
  auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
  const auto* model = dialog->findChild<QFileSystemModel*>();
  ASSERT_TRUE(list && model);
  list->selectionModel()->setCurrentIndex(model->index(path),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  Choose(dialog);
}

TEST(DialogPlumbingTest, FolderPickerReturnsTheChoiceOrNothing) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const QString initial = scratch.filePath("spool");
  const QString other = scratch.filePath("other folder");
  ASSERT_TRUE(QDir().mkdir(initial) && QDir().mkdir(other));
  struct Row {
    const char* name;
    QString initial;
    std::function<void(QFileDialog*)> act;
    QString expected;
  };
  const std::vector<Row> rows = {
      {"cancel", initial, [](QFileDialog* d) { d->reject(); }, ""},
      {"the folder it opened at", initial, Choose, initial},
      {"another folder", initial, [&](QFileDialog* d) { ClickAndChoose(d, other); }, other},
      {"missing folder: its nearest parent", scratch.filePath("gone/deeper"),
       Choose, scratch.path()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QString title;
    const QString chosen = Browse(row.initial, [&](QFileDialog* dialog) {
      title = dialog->windowTitle();
      EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
      EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
      row.act(dialog);
    });
    EXPECT_EQ(title, QStringLiteral("Spool Directory"));
    EXPECT_EQ(QDir::cleanPath(chosen).toStdString(), QDir::cleanPath(row.expected).toStdString());
  }
}

}  // namespace
}  // namespace pv

#include "dialog_plumbing_test.moc"
