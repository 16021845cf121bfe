/* The product's identifiers as VSS and COM know them.
 *
 * These texts are fixed for the life of the product: VSS finds the provider by
 * its provider id and class id, COM by the class id, the type library and the
 * application id. Changing one orphans every installation registered under the
 * old value. They are never changed, only added to.
 *
 * Plain macros only: this file is read by widl (the type library), windres and
 * the C++ sources alike; ProductGuids.h turns the texts into GUID values.
 */
#ifndef MARL_PRODUCT_IDS_H
#define MARL_PRODUCT_IDS_H

/* Class id of the provider object (CLSID_QProvider). */
#define MARL_CLSID_QPROVIDER_TEXT "5E52A9EE-6D5F-468C-8BD6-7DC26EFB4051"
/* The provider's id in VSS. */
#define MARL_VSS_PROVIDER_ID_TEXT "07CAA863-7DBD-4572-B2B4-67F6D9495E3F"
/* The provider version's id in VSS. */
#define MARL_VSS_PROVIDER_VERSION_ID_TEXT "D5167B6D-3B38-458F-A118-C5AF48B44851"
/* The type library "MarlVssProviderLib". */
#define MARL_TYPELIB_ID_TEXT "161A2EB8-693B-4E2F-8FE6-127C9B8C8596"
/* The application id (AppID). */
#define MARL_APPID_TEXT "F2ED9FE2-9BA1-4980-BD79-6B1E6239A3B3"
/* The COM+ server application that hosts the provider as the Windows service
 * "marlvssprovider" (its own id: the DLL's AppID above belongs to the class's
 * registration and would collide with the one COM+ writes). */
#define MARL_COMPLUS_APPLICATION_ID_TEXT "D4A99159-36FD-4045-9EBF-3E28CA72EB12"
/* The interface IQProvider that the type library describes (the provider
 * object does not implement it). */
#define MARL_IID_IQPROVIDER_TEXT "D0544B9D-1485-422E-8A36-50DE26EEBE98"

#endif
