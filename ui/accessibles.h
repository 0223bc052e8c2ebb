// What assistive technology is told about the controls whose toolkit nodes
// would announce them wrongly: the device list as a table with its column
// headers (the toolkit announces a tree view as a tree, flat or not), an
// address control as one editable address made of four fields, and a
// drop-down list by its label (the toolkit names it by its current value).
#pragma once

class QAccessibleInterface;
class QComboBox;
class CDeviceListCtrl;
class CIpAddressCtrl;

QAccessibleInterface* NewDeviceListAccessible(CDeviceListCtrl* list);
QAccessibleInterface* NewAddressAccessible(CIpAddressCtrl* address);
QAccessibleInterface* NewDropDownAccessible(QComboBox* combo);
