#include "framework/identifiers.h"

#include <cstring>

namespace FLM {

const String<char> IdInterfaceComponent("com.zelk.flowloom.interface.component",
                                        &sharedAllocator<char>());
const String<char> IdInterfaceTransform("com.zelk.flowloom.interface.transform",
                                        &sharedAllocator<char>());
const String<char> IdComponentTransform("com.zelk.flowloom.component.transform",
                                        &sharedAllocator<char>());
const String<char> IdComponentInput("com.zelk.flowloom.component.input", &sharedAllocator<char>());
const String<char> IdInterfaceInput("com.zelk.flowloom.interface.input", &sharedAllocator<char>());
const String<char> IdComponentOutput("com.zelk.flowloom.component.output",
                                     &sharedAllocator<char>());
const String<char> IdComponentOutputSingle("com.zelk.flowloom.component.output.single",
                                           &sharedAllocator<char>());
const String<char> IdComponentOutputMultiple("com.zelk.flowloom.component.output.multiple",
                                             &sharedAllocator<char>());
const String<char> IdInterfaceOutput("com.zelk.flowloom.interface.output",
                                     &sharedAllocator<char>());

bool sameIdentifier(const String<char>& identifier, const String<char>& constant) {
  const char* text = identifier.data != nullptr ? identifier.data : "";
  const char* expected = constant.data != nullptr ? constant.data : "";
  return std::strcmp(text, expected) == 0;
}

}  // namespace FLM
