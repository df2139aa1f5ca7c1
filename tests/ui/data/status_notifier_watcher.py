'''A StatusNotifierWatcher with a host registered, as a desktop panel runs one.

The tests learn an item's bus name from the method log (GetMethodCalls).
'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def register_item(self, service):
    self.EmitSignal(MAIN_IFACE, 'StatusNotifierItemRegistered', 's', [service])


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '', register_item),
        ('RegisterStatusNotifierHost', 's', '', ''),
    ])
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
        'IsStatusNotifierHostRegistered': dbus.Boolean(True),
        'ProtocolVersion': dbus.Int32(0),
    }, signature='sv'))
