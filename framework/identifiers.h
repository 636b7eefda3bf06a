// The framework's interface identifiers, module-wide constants built at load.
#pragma once

#include "framework/string.h"

namespace FLM {

extern const String<char> IdInterfaceComponent;     // "com.zelk.flowloom.interface.component"
extern const String<char> IdInterfaceTransform;     // "com.zelk.flowloom.interface.transform"
extern const String<char> IdComponentTransform;     // "com.zelk.flowloom.component.transform"
extern const String<char> IdComponentInput;         // "com.zelk.flowloom.component.input"
extern const String<char> IdInterfaceInput;         // "com.zelk.flowloom.interface.input"
extern const String<char> IdComponentOutput;        // "com.zelk.flowloom.component.output"
extern const String<char> IdComponentOutputSingle;  // "com.zelk.flowloom.component.output.single"
extern const String<char>
    IdComponentOutputMultiple;                // "com.zelk.flowloom.component.output.multiple"
extern const String<char> IdInterfaceOutput;  // "com.zelk.flowloom.interface.output"

// True when the identifier's text (data up to its NUL, null data being the
// empty text) equals the constant's. The length member is not consulted.
bool sameIdentifier(const String<char>& identifier, const String<char>& constant);

}  // namespace FLM
