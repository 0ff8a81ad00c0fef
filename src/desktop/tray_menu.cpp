#include "desktop/tray_menu.h"

namespace pv {
namespace {

void ApplyTo(QAction* entry, EntryState state) {
  if (state != EntryState::Same) entry->setEnabled(state == EntryState::On);
}

}  // namespace

MenuState MenuStateAfter(LifeStep step) {
  using E = EntryState;
  switch (step) {
    case LifeStep::Start: return {E::On, E::Off, E::On, E::On};
    case LifeStep::Pause: return {E::Off, E::On, E::Same, E::Off};
    case LifeStep::Continue: return {E::On, E::Off, E::Same, E::On};
    case LifeStep::End: break;
  }
  return {E::Off, E::Off, E::Off, E::Off};
}

TrayMenu::TrayMenu(QWidget* parent) : QMenu(tr("File"), parent) {
  setObjectName(QStringLiteral("mnuFile"));
  about = createEntry("mAbout", tr("About Postvane..."));
  addSeparator();
  settings = createEntry("mSettings", tr("Settings..."));
  serviceSettings = createEntry("mnuServiceSettings", tr("Autostart and Service Settings..."));
  addSeparator();
  testObject = createEntry("mnuTestObject", tr("Test Postvane COM Object..."));
  addSeparator();
  pause = createEntry("mPause", tr("Pause"));
  cont = createEntry("mContinue", tr("Continue"));
  addSeparator();
  spoolNow = createEntry("mDoItNow", tr("Spool now!"));
  addSeparator();
  stop = createEntry("mExit", tr("Stop"));
  setDefaultAction(settings);
  // The service control and the scripting test come with their windows.
  serviceSettings->setEnabled(false);
  testObject->setEnabled(false);
  DisableLifeCycle();
}

QAction* TrayMenu::createEntry(const char* objectName, const QString& caption) {
  QAction* entry = addAction(caption);
  entry->setObjectName(QLatin1String(objectName));
  return entry;
}

void TrayMenu::Apply(LifeStep step) {
  const MenuState state = MenuStateAfter(step);
  ApplyTo(pause, state.pause);
  ApplyTo(cont, state.cont);
  ApplyTo(settings, state.settings);
  ApplyTo(spoolNow, state.spoolNow);
}

void TrayMenu::DisableLifeCycle() {
  for (QAction* entry : {pause, cont, settings, spoolNow}) entry->setEnabled(false);
}

}  // namespace pv
