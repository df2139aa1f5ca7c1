'''A StatusNotifierWatcher with a host registered, as a desktop panel runs one.

Items and hosts are recorded; the tests learn an item's bus name from the method log
(GetCalls on org.freedesktop.DBus.Mock).
'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def register_item(self, service):
    items = list(self.Get(MAIN_IFACE, 'RegisteredStatusNotifierItems'))
    if service not in items:
        items.append(service)
        self.Set(MAIN_IFACE, 'RegisteredStatusNotifierItems', dbus.Array(items, signature='s'))
    self.EmitSignal(MAIN_IFACE, 'StatusNotifierItemRegistered', 's', [service])


def register_host(self, service):
    self.Set(MAIN_IFACE, 'IsStatusNotifierHostRegistered', dbus.Boolean(True))
    self.EmitSignal(MAIN_IFACE, 'StatusNotifierHostRegistered', '', [])


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '', register_item),
        ('RegisterStatusNotifierHost', 's', '', register_host),
    ])
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
        'IsStatusNotifierHostRegistered': dbus.Boolean(parameters.get('host', True)),
        'ProtocolVersion': dbus.Int32(0),
    }, signature='sv'))
