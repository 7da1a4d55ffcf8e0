// Pins the slot of every method of every OPC interface the agent calls to the
// published order. The agent and the simulation server share one generated
// header, so two methods swapped in the IDL would still pass every round
// trip between them, and break every real server. The generated C layout
// (CINTERFACE: one function pointer per slot, in declaration order) is what
// the C++ classes' virtual tables follow, so its offsets are the slots.
// A wrong order or a missing or extra method fails the build.
#define CINTERFACE
#include <windows.h>
// After <windows.h>, which it relies on.
#include <objbase.h>

#include <cstddef>

#include "opcda.h"

namespace {

constexpr std::size_t kSlot = sizeof(void*);

// Slots 0 to 2 of every COM interface.
#define PIN_IUNKNOWN(Vtbl)                                        \
  static_assert(offsetof(Vtbl, QueryInterface) == 0 * kSlot, ""); \
  static_assert(offsetof(Vtbl, AddRef) == 1 * kSlot, "");         \
  static_assert(offsetof(Vtbl, Release) == 2 * kSlot, "")

#define PIN(Vtbl, method, slot) \
  static_assert(offsetof(Vtbl, method) == (slot)*kSlot, #method " is not in slot " #slot)

// The whole table: no method before, between or after the published ones.
#define PIN_SIZE(Vtbl, slots) \
  static_assert(sizeof(Vtbl) == (slots)*kSlot, #Vtbl " does not have " #slots " slots")

PIN_IUNKNOWN(IOPCServerVtbl);
PIN(IOPCServerVtbl, AddGroup, 3);
PIN(IOPCServerVtbl, GetErrorString, 4);
PIN(IOPCServerVtbl, GetGroupByName, 5);
PIN(IOPCServerVtbl, GetStatus, 6);
PIN(IOPCServerVtbl, RemoveGroup, 7);
PIN(IOPCServerVtbl, CreateGroupEnumerator, 8);
PIN_SIZE(IOPCServerVtbl, 9);

PIN_IUNKNOWN(IOPCBrowseServerAddressSpaceVtbl);
PIN(IOPCBrowseServerAddressSpaceVtbl, QueryOrganization, 3);
PIN(IOPCBrowseServerAddressSpaceVtbl, ChangeBrowsePosition, 4);
PIN(IOPCBrowseServerAddressSpaceVtbl, BrowseOPCItemIDs, 5);
PIN(IOPCBrowseServerAddressSpaceVtbl, GetItemID, 6);
PIN(IOPCBrowseServerAddressSpaceVtbl, BrowseAccessPaths, 7);
PIN_SIZE(IOPCBrowseServerAddressSpaceVtbl, 8);

PIN_IUNKNOWN(IOPCItemMgtVtbl);
PIN(IOPCItemMgtVtbl, AddItems, 3);
PIN(IOPCItemMgtVtbl, ValidateItems, 4);
PIN(IOPCItemMgtVtbl, RemoveItems, 5);
PIN(IOPCItemMgtVtbl, SetActiveState, 6);
PIN(IOPCItemMgtVtbl, SetClientHandles, 7);
PIN(IOPCItemMgtVtbl, SetDatatypes, 8);
PIN(IOPCItemMgtVtbl, CreateEnumerator, 9);
PIN_SIZE(IOPCItemMgtVtbl, 10);

PIN_IUNKNOWN(IOPCSyncIOVtbl);
PIN(IOPCSyncIOVtbl, Read, 3);
PIN(IOPCSyncIOVtbl, Write, 4);
PIN_SIZE(IOPCSyncIOVtbl, 5);

PIN_IUNKNOWN(IOPCItemPropertiesVtbl);
PIN(IOPCItemPropertiesVtbl, QueryAvailableProperties, 3);
PIN(IOPCItemPropertiesVtbl, GetItemProperties, 4);
PIN(IOPCItemPropertiesVtbl, LookupItemIDs, 5);
PIN_SIZE(IOPCItemPropertiesVtbl, 6);

PIN_IUNKNOWN(IOPCServerListVtbl);
PIN(IOPCServerListVtbl, EnumClassesOfCategories, 3);
PIN(IOPCServerListVtbl, GetClassDetails, 4);
PIN(IOPCServerListVtbl, CLSIDFromProgID, 5);
PIN_SIZE(IOPCServerListVtbl, 6);

}  // namespace
