#pragma once

#include "Dialog.h"

// The main window's template: caption, size and every control at its dialog-unit position.
DialogTemplate MainWindowTemplate();
