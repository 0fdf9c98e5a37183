/* VqSDD.sys: stand-in for the product's self-defence driver. It creates \Device\VqSDD_Sys and answers
   the mode query with the REG_DWORD "Mode" of its own service key, read afresh on every query, so an
   operator or a test changes the answer with the registry alone. README.md beside this file has the
   contract and the installation. */
#include <ddk/wdm.h>

#define VQSDD_QUERY_MODE CTL_CODE(FILE_DEVICE_UNKNOWN, 0x001, METHOD_BUFFERED, FILE_READ_ACCESS)
_Static_assert(VQSDD_QUERY_MODE == 0x224004, "the control code callers send");

/* What a driver that has never been told otherwise answers: active. */
#define VQSDD_DEFAULT_MODE 1u

/* The device extension keeps the service key path that DriverEntry was given: the caller's copy is
   not ours to keep, and the device lives exactly as long as the path is needed. */
typedef struct VqsddDevice {
    UNICODE_STRING serviceKey;
    WCHAR serviceKeyBuffer[];
} VqsddDevice;

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD VqsddUnload;
static DRIVER_DISPATCH VqsddSucceed;
static DRIVER_DISPATCH VqsddDeviceControl;

static ULONG VqsddReadMode(const VqsddDevice* device)
{
    UNICODE_STRING valueName = RTL_CONSTANT_STRING(L"Mode");
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    /* A REG_DWORD exactly fits; anything larger fails the query with STATUS_BUFFER_OVERFLOW. */
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + sizeof(ULONG)];
    } value;
    ULONG length = 0;
    ULONG mode = VQSDD_DEFAULT_MODE;

    InitializeObjectAttributes(&attributes, (PUNICODE_STRING)&device->serviceKey,
                               OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes))) {
        return mode;
    }
    if (NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &value, sizeof(value), &length)) &&
        value.info.Type == REG_DWORD && value.info.DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&mode, value.info.Data, sizeof(mode));
    }
    ZwClose(key);
    return mode;
}

static NTSTATUS VqsddComplete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Open, clean-up and close need no state: any number of callers may hold the device. */
static NTSTATUS NTAPI VqsddSucceed(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    UNREFERENCED_PARAMETER(deviceObject);
    return VqsddComplete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI VqsddDeviceControl(PDEVICE_OBJECT deviceObject, PIRP irp)
{
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const VqsddDevice* device = (const VqsddDevice*)deviceObject->DeviceExtension;
    ULONG mode;

    if (stack->Parameters.DeviceIoControl.IoControlCode != VQSDD_QUERY_MODE) {
        return VqsddComplete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(mode)) {
        return VqsddComplete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    }
    mode = VqsddReadMode(device);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &mode, sizeof(mode));
    return VqsddComplete(irp, STATUS_SUCCESS, sizeof(mode));
}

static VOID NTAPI VqsddUnload(PDRIVER_OBJECT driver)
{
    if (driver->DeviceObject != NULL) {
        IoDeleteDevice(driver->DeviceObject);
    }
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING deviceName = RTL_CONSTANT_STRING(L"\\Device\\VqSDD_Sys");
    PDEVICE_OBJECT deviceObject = NULL;
    VqsddDevice* device;
    NTSTATUS status;

    status = IoCreateDevice(driver, (ULONG)(sizeof(VqsddDevice) + registryPath->Length), &deviceName,
                            FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &deviceObject);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    device = (VqsddDevice*)deviceObject->DeviceExtension;
    device->serviceKey.Buffer = device->serviceKeyBuffer;
    device->serviceKey.Length = registryPath->Length;
    device->serviceKey.MaximumLength = registryPath->Length;
    RtlCopyMemory(device->serviceKeyBuffer, registryPath->Buffer, registryPath->Length);

    driver->MajorFunction[IRP_MJ_CREATE] = VqsddSucceed;
    driver->MajorFunction[IRP_MJ_CLEANUP] = VqsddSucceed;
    driver->MajorFunction[IRP_MJ_CLOSE] = VqsddSucceed;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = VqsddDeviceControl;
    driver->DriverUnload = VqsddUnload;
    deviceObject->Flags |= DO_BUFFERED_IO;
    return STATUS_SUCCESS;
}
