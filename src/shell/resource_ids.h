// Resource IDs of the setup program's own resources: the progress dialog template and its icon.
// Shared by the resource script and the shell's code, so plain #defines only.
#pragma once

#define IDD_SETUP 1100
#define IDI_SETUP 1000
