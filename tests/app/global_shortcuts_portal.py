'''The desktop portal's GlobalShortcuts interface as a dbusmock template, for Kivo's tests.

CreateSession and BindShortcuts answer as a portal does: through the Response signal of a request
object named after the caller and its handle_token, sent after the call's reply. BindShortcuts
binds every shortcut to its preferred trigger, as a person accepting the desktop's dialog would.
The mock interface's Activate(id) presses a bound shortcut.
'''

import dbus
import dbus.service
from dbusmock import MOCK_IFACE, mockobject
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.AddProperties(MAIN_IFACE, {'version': dbus.UInt32(1)})
    mockobject.sessions = {}


def respond(mock, sender, token, results):
    path = f'{MAIN_OBJ}/request/{sender[1:].replace(".", "_")}/{token}'
    mock.AddObject(path, 'org.freedesktop.portal.Request', {}, [])

    def send():
        mockobject.objects[path].EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}',
                                            [dbus.UInt32(0), results])
        return False

    GLib.idle_add(send)
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender):
    session = f'{MAIN_OBJ}/session/{sender[1:].replace(".", "_")}/{options["session_handle_token"]}'
    mockobject.sessions[session] = []
    return respond(self, sender, options['handle_token'], {'session_handle': session})


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o',
                     sender_keyword='sender')
def BindShortcuts(self, session, shortcuts, _parent, options, sender):
    bound = [(name, {'description': properties['description'],
                     'trigger_description': properties.get('preferred_trigger', '')})
             for name, properties in shortcuts]
    mockobject.sessions[session] = bound
    return respond(self, sender, options['handle_token'],
                   {'shortcuts': dbus.Array(bound, signature='(sa{sv})')})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def ListShortcuts(self, session, options, sender):
    return respond(self, sender, options['handle_token'],
                   {'shortcuts': dbus.Array(mockobject.sessions.get(session, []),
                                            signature='(sa{sv})')})


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def Activate(self, shortcut):
    for session, bound in mockobject.sessions.items():
        if any(name == shortcut for name, _ in bound):
            self.EmitSignal(MAIN_IFACE, 'Activated', 'osta{sv}',
                            [dbus.ObjectPath(session), shortcut, dbus.UInt64(0), {}])
