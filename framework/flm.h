// The component framework shared with the host: records that cross the
// boundary, the plug-in object, the component and port interfaces, and the
// objects the host supplies.
//
// Every operation carries a tag for the thread that may call it and the lock
// it takes:
//   [any thread]           may be called at any time while the object lives;
//   [host thread, no lock] called by the host outside message delivery; takes
//                          no lock, and the host does not overlap such calls;
//   [stream thread]        the thread that delivers the input port's stream
//                          messages, one at a time;
//   [takes lock]           takes the component's recursive lock;
//   [caller holds lock]    runs under the component's lock, which the calling
//                          thread has already taken.
#pragma once

#include "framework/allocator.h"
#include "framework/host_objects.h"
#include "framework/identifiers.h"
#include "framework/interfaces.h"
#include "framework/messages.h"
#include "framework/plugin.h"
#include "framework/string.h"
#include "framework/typed_value.h"
