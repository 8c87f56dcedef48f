// Every result code the program returns, or judges when another program or
// the system returns it, once, under the system's own name and with its
// system meaning. The program's exit code is one of these; a step's code
// travels up unchanged to become it, so each value has exactly one name here.
// Modules may give a code a name of their own vocabulary, always as this one.
#pragma once

#include <windows.h>

const long RC_SUCCESS = 0;                       // ERROR_SUCCESS: the operation completed successfully
const long RC_FILE_NOT_FOUND = 2;                // ERROR_FILE_NOT_FOUND: the system cannot find the file (also a step that failed without a code of its own)
const long RC_PATH_NOT_FOUND = 3;                // ERROR_PATH_NOT_FOUND: the system cannot find the path
const long RC_ACCESS_DENIED = 5;                 // ERROR_ACCESS_DENIED: access is denied
const long RC_NOT_ENOUGH_MEMORY = 8;             // ERROR_NOT_ENOUGH_MEMORY: not enough storage to process this command (also a command-line option left empty)
const long RC_INVALID_DATA = 13;                 // ERROR_INVALID_DATA: the data is invalid (a setting, path or property refused)
const long RC_OUTOFMEMORY = 14;                  // ERROR_OUTOFMEMORY: not enough storage to complete this operation
const long RC_BAD_COMMAND = 22;                  // ERROR_BAD_COMMAND: the device does not recognize the command (usage or version box shown)
const long RC_CRC = 23;                          // ERROR_CRC: data error (cyclic redundancy check)
const long RC_SHARING_VIOLATION = 32;            // ERROR_SHARING_VIOLATION: the file is being used by another process
const long RC_NOT_SUPPORTED = 50;                // ERROR_NOT_SUPPORTED: the request is not supported (a phase not in this build)
const long RC_FILE_EXISTS = 80;                  // ERROR_FILE_EXISTS: the file exists
const long RC_INVALID_NAME = 123;                // ERROR_INVALID_NAME: the file name, directory name or volume label syntax is incorrect
const long RC_PATH_BUSY = 148;                   // ERROR_PATH_BUSY: the path cannot be used at this time (the product's files are in use)
const long RC_MOD_NOT_FOUND = 126;              // ERROR_MOD_NOT_FOUND: the specified module could not be found
const long RC_BAD_ARGUMENTS = 160;               // ERROR_BAD_ARGUMENTS: one or more arguments are not correct (an empty source name, a rejected command-line value)
const long RC_BAD_PATHNAME = 161;                // ERROR_BAD_PATHNAME: the specified path is invalid
const long RC_FILENAME_EXCED_RANGE = 206;        // ERROR_FILENAME_EXCED_RANGE: the file name or extension is too long
const long RC_NO_DATA = 232;                     // ERROR_NO_DATA: the pipe is being closed (update mode, nothing to upgrade)
const long RC_CANNOT_COPY = 266;                 // ERROR_CANNOT_COPY: the copy functions cannot be used (a file cannot be copied or moved into place)
const long RC_DIRECTORY = 267;                   // ERROR_DIRECTORY: the directory name is invalid (the old and the new folder lie inside each other)
const long RC_INVALID_IMAGE_HASH = 577;          // ERROR_INVALID_IMAGE_HASH: Windows cannot verify the digital signature for this file
const long RC_OPERATION_ABORTED = 995;           // ERROR_OPERATION_ABORTED: the I/O operation has been aborted (the user said no)
const long RC_NOT_REGISTRY_FILE = 1017;          // ERROR_NOT_REGISTRY_FILE: the system attempted to load a file that is not a registry file (no installation path in the registry)
const long RC_CANCELLED = 1223;                  // ERROR_CANCELLED: the operation was canceled by the user
const long RC_APPHELP_BLOCK = 1259;             // ERROR_APPHELP_BLOCK: the installation was blocked by the compatibility database
const long RC_NO_SUCH_PRIVILEGE = 1313;          // ERROR_NO_SUCH_PRIVILEGE: a specified privilege does not exist (not an administrator)
const long RC_INSTALL_SERVICE_FAILURE = 1601;    // ERROR_INSTALL_SERVICE_FAILURE: the Windows Installer service could not be accessed
const long RC_INSTALL_USEREXIT = 1602;           // ERROR_INSTALL_USEREXIT: the user cancelled the installation
const long RC_INSTALL_FAILURE = 1603;            // ERROR_INSTALL_FAILURE: fatal error during installation
const long RC_INSTALL_SUSPEND = 1604;           // ERROR_INSTALL_SUSPEND: the installation was suspended, incomplete
const long RC_UNKNOWN_PRODUCT = 1605;            // ERROR_UNKNOWN_PRODUCT: this action is only valid for products that are currently installed
const long RC_INSTALL_ALREADY_RUNNING = 1618;    // ERROR_INSTALL_ALREADY_RUNNING: another installation is already in progress (another run of this program)
const long RC_INSTALL_PACKAGE_OPEN_FAILED = 1619;  // ERROR_INSTALL_PACKAGE_OPEN_FAILED: the installation package could not be opened
const long RC_FUNCTION_NOT_CALLED = 1626;        // ERROR_FUNCTION_NOT_CALLED: the function could not be executed
const long RC_FUNCTION_FAILED = 1627;            // ERROR_FUNCTION_FAILED: the function failed during execution
const long RC_INSTALL_PLATFORM_UNSUPPORTED = 1633;  // ERROR_INSTALL_PLATFORM_UNSUPPORTED: this installation package is not supported on this platform
const long RC_SUCCESS_REBOOT_INITIATED = 1641;   // ERROR_SUCCESS_REBOOT_INITIATED: the installer has initiated a restart
const long RC_NOT_CONNECTED = 2250;              // ERROR_NOT_CONNECTED: this network connection does not exist (no internet)
const long RC_SUCCESS_REBOOT_REQUIRED = 3010;    // ERROR_SUCCESS_REBOOT_REQUIRED: a restart is required to complete the operation
const long RC_INVALID_STATE = 5023;              // ERROR_INVALID_STATE: the group or resource is not in the correct state

// Success with a restart to come: the installer started it or asks for it.
inline bool IsRestartCode(long rc)
{
    return rc == RC_SUCCESS_REBOOT_REQUIRED || rc == RC_SUCCESS_REBOOT_INITIATED;
}
