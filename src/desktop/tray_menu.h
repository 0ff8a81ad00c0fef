#pragma once
// The tray's popup menu "File" and which of its entries are on after each step of the life
// cycle (start, pause, continue, end).
#include <QMenu>

namespace pv {

enum class LifeStep { Start, Pause, Continue, End };

// What a step does to one entry.
enum class EntryState { Same, On, Off };

struct MenuState {
  EntryState pause, cont, settings, spoolNow;
};

// The entries' states after a step (a continue whose settings did not load is no step: the
// menu stays as paused).
MenuState MenuStateAfter(LifeStep step);

class TrayMenu : public QMenu {
  Q_OBJECT
 public:
  explicit TrayMenu(QWidget* parent = nullptr);

  // The entries, in their order; separators are unnamed.
  QAction* about;
  QAction* settings;
  QAction* serviceSettings;
  QAction* testObject;
  QAction* pause;
  QAction* cont;
  QAction* spoolNow;
  QAction* stop;

  void Apply(LifeStep step);
  // Pause, Continue, Settings and Spool now off, as while the spooler starts.
  void DisableLifeCycle();

 private:
  QAction* createEntry(const char* objectName, const QString& caption);
};

}  // namespace pv
