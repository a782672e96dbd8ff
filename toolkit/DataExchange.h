#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "Dialog.h"

// The two directions of data exchange for one field each: a refresh (m_bSaveAndValidate false)
// writes the member into its field, a commit reads the field back into the member, with the
// fields' parsing rules and validation messages. A field a commit rejects ends the exchange.

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Text(CDataExchange* pDX, int id, std::uint32_t& value);
void DDX_Text(CDataExchange* pDX, int id, double& value);
// A multi-line pane showing a text the window does not hold itself: a refresh shows `text`, a
// commit hands what the pane shows to `store` (a disabled pane is not read back: it holds
// nothing the operator could have changed).
void DDX_Pane(CDataExchange* pDX, int id, const std::string& text,
              const std::function<void(const std::string&)>& store);

// Validation messages of the numeric fields.
QString UnsignedFieldMessage();
QString DoubleFieldMessage();
