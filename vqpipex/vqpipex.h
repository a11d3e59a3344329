#pragma once

/* The maker's direct-access driver library for the KR1 to KR4 USB interface chips.
 *
 * Every operation returns a 32-bit status: 0 is success, anything else a failure.
 * Burnwise reaches it only through burnwise/device/PipexUnit. The simulated bench in
 * this folder exports the same functions; a real library with this ABI can be linked
 * in its place (BW_VQPIPEX_LIBRARY).
 *
 * Threads: calls on different handles may come from different threads at the same time,
 * and so may VQ_ListDevices and VQ_Open; the devices then work in parallel, as on a bus.
 * A handle is used by one thread at a time: nothing shares a handle. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VQ_API __attribute__((visibility("default")))
#else
#define VQ_API
#endif

typedef uint32_t VQ_STATUS;
typedef void* VQ_HANDLE;

enum {
    VQ_OK = 0,
    VQ_INVALID_HANDLE = 1,
    VQ_DEVICE_NOT_FOUND = 2,
    VQ_DEVICE_NOT_OPENED = 3,
    VQ_IO_ERROR = 4,
    VQ_INSUFFICIENT_RESOURCES = 5,
    VQ_INVALID_PARAMETER = 6,
    VQ_INVALID_BAUD_RATE = 7,
    VQ_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    VQ_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    VQ_FAILED_TO_WRITE_DEVICE = 10,
    VQ_EEPROM_READ_FAILED = 11,
    VQ_EEPROM_WRITE_FAILED = 12,
    VQ_EEPROM_ERASE_FAILED = 13,
    VQ_EEPROM_NOT_PRESENT = 14,
    VQ_EEPROM_NOT_PROGRAMMED = 15,
    VQ_INVALID_ARGS = 16,
    VQ_OTHER_ERROR = 17
};

/* Device type codes reported by VQ_GetDeviceInfo. */
enum { VQ_TYPE_KR2 = 0, VQ_TYPE_KR1 = 1, VQ_TYPE_KR3 = 4, VQ_TYPE_KR4 = 5 };

/* Flag for VQ_ListDevices: report the number of attached devices only. */
#define VQ_LIST_NUMBER_ONLY 0x80000000u

/* Size of each text buffer VQ_GetDeviceInfo may fill (zero-terminated). */
#define VQ_TEXT_SIZE 64

VQ_API VQ_STATUS VQ_ListDevices(int32_t* count, void* reserved, uint32_t flags);
VQ_API VQ_STATUS VQ_Open(int32_t index, VQ_HANDLE* handle);
VQ_API VQ_STATUS VQ_Close(VQ_HANDLE handle);
VQ_API VQ_STATUS VQ_SetLatencyTimer(VQ_HANDLE handle, uint8_t value);
/* Any of the three text pointers may be null; the driver then leaves it alone. */
VQ_API VQ_STATUS VQ_GetDeviceInfo(VQ_HANDLE handle, uint32_t* typeCode, uint32_t* deviceId,
                                  char* serialNumber, char* description, void* reserved);
VQ_API VQ_STATUS VQ_ReadEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t* value);
VQ_API VQ_STATUS VQ_WriteEE(VQ_HANDLE handle, uint32_t wordOffset, uint16_t value);
VQ_API VQ_STATUS VQ_EraseEE(VQ_HANDLE handle);
VQ_API VQ_STATUS VQ_CyclePort(VQ_HANDLE handle);

/* Exported by the simulated bench only. Declared weak so that a program linked against
 * a real library still links; the address is then null. */
#if defined(__GNUC__)
#define VQSIM_WEAK __attribute__((weak))
#else
#define VQSIM_WEAK
#endif
/* Nonzero: this library is the simulated bench. */
VQ_API int VQSIM_IsSimulator(void) VQSIM_WEAK;
/* The bench file the simulator works on (valid until the next call). */
VQ_API const char* VQSIM_BenchPath(void) VQSIM_WEAK;

#ifdef __cplusplus
}
#endif
