'''systemd's manager for the service control tests: python3-dbusmock's systemd template, with
the unit-file calls the service window makes and a unit-file state per unit.

Start it with `python3 -m dbusmock --system -t <this file>`. The unit-file states follow what
systemd 252 does on disk (tests/dist checks the same with systemctl --root):

- EnableUnitFiles / LinkUnitFiles of an absolute path: "enabled" / "linked"; refused over a mask;
- DisableUnitFiles: an enabled or linked unit is gone (no file of that name is left); a masked
  unit stays masked; an unknown name is NoSuchUnit;
- MaskUnitFiles: "masked"; refused over a link (the service control disables first);
- UnmaskUnitFiles: a masked unit is gone;
- GetUnitFileState of a unit without a file: FileNotFound, as systemd answers.

A unit's LoadState follows its file state at Reload, as in systemd. Mock methods:
SetUnitFileState, SetActiveState, SetStartOutcome (the ActiveState a StartUnit leaves, e.g.
"activating" for a service that never comes up), RefuseMethods (those answer AccessDenied, as
when polkit refuses) and GetNonInteractiveCalls (the calls that did not allow interactive
authorization).
'''

import os

import dbus

from dbusmock import MOCK_IFACE, mockobject
from dbusmock.templates import systemd as base

BUS_NAME = base.BUS_NAME
MAIN_OBJ = base.MAIN_OBJ
MAIN_IFACE = base.MAIN_IFACE
UNIT_IFACE = base.UNIT_IFACE
SYSTEM_BUS = True
PATH_PREFIX = base.PATH_PREFIX

NO_SUCH_UNIT = 'org.freedesktop.systemd1.NoSuchUnit'


def load(mock, parameters):
    base.load(mock, parameters)
    mock.file_states = {}      # unit name -> unit-file state
    mock.start_outcome = {}    # unit name -> ActiveState after StartUnit
    mock.refused = set()       # method names answered with AccessDenied
    mock.non_interactive = []  # method names called without interactive authorization


def fail(name, message):
    raise dbus.exceptions.DBusException(message, name=name)


def check(mock, method, message):
    if not message.get_allow_interactive_authorization():
        mock.non_interactive.append(method)
    if method in mock.refused:
        fail('org.freedesktop.DBus.Error.AccessDenied', 'Access denied')


def unit_object(mock, name):
    '''The unit's object, made (not found, inactive) when there is none yet.'''
    name = str(name)
    if name not in mock.units:
        path = f'{PATH_PREFIX}/unit/{base.escape_unit_name(name)}'
        mock.units[name] = path
        mock.AddObject(path, UNIT_IFACE,
                       {'Id': name, 'Names': [name], 'LoadState': 'not-found',
                        'ActiveState': 'inactive'}, [])
    return mockobject.objects[mock.units[name]]


def set_active(mock, name, state):
    unit_object(mock, name).UpdateProperties(UNIT_IFACE, {'ActiveState': dbus.String(state)})


def load_state(file_state):
    if file_state is None:
        return 'not-found'
    return 'masked' if file_state.startswith('masked') else 'loaded'


def unit_name(file):
    return os.path.basename(str(file))


def changes(kind, files):
    return dbus.Array([(kind, unit_name(f), str(f)) for f in files], signature='(sss)')


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='o', message_keyword='message')
def GetUnit(self, name, message=None):
    check(self, 'GetUnit', message)
    if str(name) not in self.units:
        fail(NO_SUCH_UNIT, f"Unit {name} not loaded.")
    return self.units[str(name)]


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='o', message_keyword='message')
def LoadUnit(self, name, message=None):
    check(self, 'LoadUnit', message)
    unit_object(self, name)
    return self.units[str(name)]


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='s', message_keyword='message')
def GetUnitFileState(self, name, message=None):
    check(self, 'GetUnitFileState', message)
    state = self.file_states.get(str(name))
    if state is None:
        fail('org.freedesktop.DBus.Error.FileNotFound', 'No such file or directory')
    return state


def startable(mock, name):
    name = str(name)
    state = mock.file_states.get(name)
    if state is None:
        fail(NO_SUCH_UNIT, f'Unit {name} not found.')
    if state.startswith('masked'):
        fail('org.freedesktop.systemd1.UnitMasked', f'Unit {name} is masked.')


def job(mock):
    job_id = mock.next_job_id
    mock.next_job_id += 1
    return f'{PATH_PREFIX}/job/{job_id}'


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o', message_keyword='message')
def StartUnit(self, name, _mode, message=None):
    check(self, 'StartUnit', message)
    startable(self, name)
    set_active(self, name, self.start_outcome.get(str(name), 'active'))
    return job(self)


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o', message_keyword='message')
def StopUnit(self, name, _mode, message=None):
    check(self, 'StopUnit', message)
    if str(name) not in self.units:
        fail(NO_SUCH_UNIT, f'Unit {name} not loaded.')
    set_active(self, name, 'inactive')
    return job(self)


def link_files(mock, files, state):
    for file in files:
        name = unit_name(file)
        if not str(file).startswith('/'):
            fail(NO_SUCH_UNIT, f'Unit file {file} does not exist.')
        if mock.file_states.get(name, '').startswith('masked'):
            fail('org.freedesktop.systemd1.UnitMasked', f'Unit file {name} is masked.')
        if state == 'linked' and mock.file_states.get(name) == 'enabled':
            continue
        mock.file_states[name] = state


@dbus.service.method(MAIN_IFACE, in_signature='asbb', out_signature='ba(sss)',
                     message_keyword='message')
def EnableUnitFiles(self, files, _runtime, _force, message=None):
    check(self, 'EnableUnitFiles', message)
    link_files(self, files, 'enabled')
    return (True, changes('symlink', files))


@dbus.service.method(MAIN_IFACE, in_signature='asbb', out_signature='a(sss)',
                     message_keyword='message')
def LinkUnitFiles(self, files, _runtime, _force, message=None):
    check(self, 'LinkUnitFiles', message)
    link_files(self, files, 'linked')
    return changes('symlink', files)


@dbus.service.method(MAIN_IFACE, in_signature='asb', out_signature='a(sss)',
                     message_keyword='message')
def DisableUnitFiles(self, files, _runtime, message=None):
    check(self, 'DisableUnitFiles', message)
    for file in files:
        name = unit_name(file)
        state = self.file_states.get(name)
        if state is None:
            fail(NO_SUCH_UNIT, f'Unit file {name} does not exist.')
        if state in ('enabled', 'linked'):
            del self.file_states[name]
    return changes('unlink', files)


@dbus.service.method(MAIN_IFACE, in_signature='asbb', out_signature='a(sss)',
                     message_keyword='message')
def MaskUnitFiles(self, files, _runtime, force, message=None):
    check(self, 'MaskUnitFiles', message)
    for file in files:
        name = unit_name(file)
        if self.file_states.get(name) in ('enabled', 'linked') and not force:
            fail('org.freedesktop.DBus.Error.FileExists',
                 f'File /etc/systemd/system/{name} already exists and is a symlink.')
        self.file_states[name] = 'masked'
    return changes('symlink', files)


@dbus.service.method(MAIN_IFACE, in_signature='asb', out_signature='a(sss)',
                     message_keyword='message')
def UnmaskUnitFiles(self, files, _runtime, message=None):
    check(self, 'UnmaskUnitFiles', message)
    for file in files:
        name = unit_name(file)
        if self.file_states.get(name, '').startswith('masked'):
            del self.file_states[name]
    return changes('unlink', files)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='', message_keyword='message')
def Reload(self, message=None):
    check(self, 'Reload', message)
    for name in list(self.units):
        state = load_state(self.file_states.get(name))
        unit_object(self, name).UpdateProperties(UNIT_IFACE, {'LoadState': dbus.String(state)})


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetUnitFileState(self, name, state):
    '''A unit installed as it would be after an install with that state ("" for none), loaded.'''
    if state:
        self.file_states[str(name)] = str(state)
    else:
        self.file_states.pop(str(name), None)
    unit_object(self, name).UpdateProperties(
        UNIT_IFACE, {'LoadState': dbus.String(load_state(self.file_states.get(str(name))))})


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetActiveState(self, name, state):
    set_active(self, name, state)


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetStartOutcome(self, name, state):
    self.start_outcome[str(name)] = str(state)


@dbus.service.method(MOCK_IFACE, in_signature='as', out_signature='')
def RefuseMethods(self, methods):
    self.refused = {str(m) for m in methods}


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def GetNonInteractiveCalls(self):
    return dbus.Array(self.non_interactive, signature='s')
