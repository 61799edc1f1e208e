#pragma once

// What the tool's suites share: Qt Test and Qt Widgets, fresh folders for settings, lock and drive C
// (TestEnv), message boxes and settings arranged and read (ShellHelpers), dialogs on the in-memory
// line (DialogTestSupport) and the expected texts under tests/data (GoldenTexts).

#include "support/DialogTestSupport.h"
#include "support/GoldenTexts.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QtTest>
#include <QtWidgets>
