// Resource and control identifiers of the installer program.
#ifndef QUORVANEL_RESOURCES_RESOURCE_H
#define QUORVANEL_RESOURCES_RESOURCE_H

#define IDD_INSTALL 100
#define IDR_INSTALLER_MARK 100
#define IDI_SETUP 100
#define IDC_TARGET 101
#define IDC_STATUS 102
#define ID_START_INSTALL 100

#endif
