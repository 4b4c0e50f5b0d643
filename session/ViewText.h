// The texts the main window shows, as plain functions: the page list's entry
// line, the status bar's port settings and clock.
#pragma once

#include "settings/ShownValue.h" // ShownValue, for the boxes quoting a value

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>

class CPortConfig;

// "%m/%d/%Y %H:%M:%S " then the page text, where SUB and the byte after it,
// c, show as the name of the control character c minus 40 hex. A SUB that
// has no byte from 40 to 5F hex after it shows as "<SUB>" and the next byte
// is taken as it comes. Every other byte is kept unchanged.
std::string FormatPageLine(std::time_t when, const std::string& strPageText);

// How many lines to remove from the top of the page list so that at most
// nLimit of its nCount lines remain: the oldest entries go whole, a page's
// line together with the result line after it (a result line starts with a
// tab: "\tBAD PAGE - INVALID CHECKSUM"). lineAt(i) gives line i.
size_t OldestPageLinesToDrop(size_t nCount, size_t nLimit,
                             const std::function<std::string(size_t)>& lineAt);

// The text of a message box with every line longer than kBoxLineLimit cut
// the same way, whatever it quotes.
constexpr size_t kBoxLineLimit = 120;
std::string ReadableBoxText(const std::string& strText);

// "Port Settings : Port: COM1 BaudRate: 9600 Parity: None StopBits: 1 DataBits: 8"
std::string PortSettingsText(const CPortConfig& config);

// " (device lost: /dev/ttyUSB0)" after the port settings while the line
// waits for its device to come back; empty when nothing is lost.
std::string LostDeviceNote(const std::string& strDevicePath);

// The status bar's first pane: the port settings text with the port's
// device after the port ("Port: COM1 /dev/ttyUSB0 BaudRate: ..."), or for a
// port whose
// stored device is a network line the endpoint instead of the line format,
// with what the line does now when it is the line in use:
// "Port Settings : Port: COM1 tcp-listen:127.0.0.1:2775, peer 10.0.0.7:53122".
// strLineInUse is the device the port has open, strLineState how it
// describes itself, strLostDevice a serial device waited for.
std::string StatusSettingsText(const CPortConfig& config,
                               const std::string& strLineInUse,
                               const std::string& strLineState,
                               const std::string& strLostDevice);

// " (test mode: nak-every:3)" after the port settings while the terminal
// misbehaves on purpose; empty when it does not.
std::string TestModeNote(const std::string& strModes);

// The box at the start for a profile that cannot be used (strReason as
// CheckProfileFile gives it): the program goes on with the default
// settings and writes nothing to the file while it stays so.
std::string UnusableProfileText(const std::string& strPath,
                                const std::string& strReason);

// The protocol window's note while the profile does not exist yet ("   PROFILE
// <path> IS NEW: ..."); empty once it does, or when it cannot be used.
std::string NewProfileNote(const std::string& strPath);

// The time of day as "%i:%02i": 0:07, 9:05, 23:59.
std::string ClockText(std::time_t when);
