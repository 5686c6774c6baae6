// Resource ids besides the string table's (resources/strings.h).
#ifndef UNINST_RESOURCES_RESOURCE_H
#define UNINST_RESOURCES_RESOURCE_H

#define IDI_ICON1 101

#endif
