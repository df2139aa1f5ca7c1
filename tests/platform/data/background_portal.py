'''The desktop portal's Background interface as xdg-desktop-portal serves it: each
RequestBackground call returns a Request object's path, named after the caller's unique bus
name and its handle_token, and the answer comes later as that object's Response signal.

How it answers is set through the properties of org.pellora.TestPortal: Sender (the caller's
unique name), Response (0 granted, 1 cancelled, 2 failed), Autostart ("asked" to grant what
was asked, else "true" or "false"), Silent (never answer). Asked records each call's
autostart and dbus-activatable options as "a<0|1>d<0|1>;".
'''

import dbus
import dbus.lowlevel
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Background'
SYSTEM_BUS = False
TEST_IFACE = 'org.pellora.TestPortal'


def request_background(self, parent_window, options):
    sender = str(self.Get(TEST_IFACE, 'Sender'))[1:].replace('.', '_')
    handle = f'{MAIN_OBJ}/request/{sender}/{options["handle_token"]}'
    flags = 'a%dd%d;' % (bool(options.get('autostart')), bool(options.get('dbus-activatable')))
    self.Set(TEST_IFACE, 'Asked', str(self.Get(TEST_IFACE, 'Asked')) + flags)
    if self.Get(TEST_IFACE, 'Silent'):
        return dbus.ObjectPath(handle)
    response = dbus.UInt32(self.Get(TEST_IFACE, 'Response'))
    answer = str(self.Get(TEST_IFACE, 'Autostart'))
    autostart = bool(options.get('autostart', False)) if answer == 'asked' else answer == 'true'

    def respond():
        signal = dbus.lowlevel.SignalMessage(handle, 'org.freedesktop.portal.Request', 'Response')
        results = dbus.Dictionary({'background': dbus.Boolean(True),
                                   'autostart': dbus.Boolean(autostart)}, signature='sv')
        signal.append(response, results, signature='ua{sv}')
        self.connection.send_message(signal)
        return False

    # After the reply, as the real portal answers once the user has chosen.
    GLib.idle_add(respond)
    return dbus.ObjectPath(handle)


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [('RequestBackground', 'sa{sv}', 'o', request_background)])
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(2)}, signature='sv'))
    mock.AddProperties(TEST_IFACE, dbus.Dictionary({
        'Sender': dbus.String(parameters.get('sender', ':0.0')),
        'Response': dbus.UInt32(0),
        'Autostart': dbus.String('asked'),
        'Silent': dbus.Boolean(False),
        'Asked': dbus.String(''),
    }, signature='sv'))
