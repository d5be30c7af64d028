#pragma once

#include "usb_device.h"

#include <QString>
#include <QStringList>

// The udev rule that lets the logged-in user open the key, and the group it
// gives read-write access for set-ups without a seat session.
constexpr const char *kUdevRulesFile = "70-boxwright-key.rules";
constexpr const char *kKeyGroup = "plugdev";

// The folders udev reads rules from.
QStringList udevRuleDirs();

// Why this user cannot open the key at `node`: the rule is missing from every
// folder of `ruleDirs`, it has not been applied to this key yet (replug), or it
// has and the key's group is one this process lacks (join it, or log in again).
UsbAccessProblem describeDeniedKey(const QString &node, const QStringList &ruleDirs);
