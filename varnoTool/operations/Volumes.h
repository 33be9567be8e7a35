#pragma once
// Volume operations: mounting, unmounting, journaling, ownership, and the
// checks of permissions and of the file-system structure, each run by the
// system tool that does it.

#include "plist/plist.h"

// Replace the executor with the disk utility ("KVXAEMountVolumeAuthExec",
// "KVXAEUnmountVolumeAuthExec", "KVXAEVerifyRepairFilePermissionsAuthExec")
// or the HFS check ("KVXAEVerifyRepairVolumeStructureAuthExec"). Return -1
// when the request names no volume or the tool cannot replace the executor.
int mountVolume(const plist::Dictionary& parameters);
int unmountVolume(const plist::Dictionary& parameters);
int verifyRepairFilePermissions(const plist::Dictionary& parameters);
int verifyRepairVolumeStructure(const plist::Dictionary& parameters);

// Start the tool as a child that outlives the executor and return 0 at once
// ("KVXAESetVolumeJournalStatusAuthExec", "KVXAESetVolumeOwnershipStatusAuthExec");
// -1 when the request names no volume.
int setVolumeJournalStatus(const plist::Dictionary& parameters);
int setVolumeOwnershipStatus(const plist::Dictionary& parameters);
