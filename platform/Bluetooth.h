#pragma once

#include <QString>

// The Bluetooth link and radio as the listener and the setup dialog use them, over the stack and
// the radio access of BluetoothStack.h and BluetoothRadio.h. Main thread only.

// A listening RFCOMM socket in `socket`, published as a Serial Port service. On false nothing is
// left open and `socket` is -1.
bool btListen(qintptr &socket);
// Takes the record back and closes `socket` unless it is -1 (a socket that Qt took over is no
// longer the caller's and is passed as -1); `socket` is -1 afterwards. Always true.
bool btUnregister(qintptr &socket);
// The peer's address as six upper-case hex pairs, most significant first; false (and `text`
// untouched) when it cannot be read.
bool btPeerName(qintptr socket, QString &text);

// The first radio's name and address text; false when there is none.
bool btRadioInfo(QString &name, QString &address);
bool btIsDiscoverable();
// True only once the radio reports the new mode.
bool btSetDiscoverable(bool on);
