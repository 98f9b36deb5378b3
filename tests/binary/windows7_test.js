'use strict';
// Both deliverables must load on a plain 32-bit Windows 7: they import only system libraries,
// no function that Windows 7 lacks (the loader refuses the whole program over a single missing
// import), no runtime DLL of the compiler, and their headers ask for no newer Windows.
//
// Usage: node windows7_test.js <objdump> <file>...

const { execFileSync } = require('child_process');
const path = require('path');
const { CPeFile } = require('./pe');
const { test, finish } = require('./check');

// Libraries every Windows 7 installation has, which the product may import.
const SYSTEM_DLLS = new Set([
  'kernel32.dll', 'user32.dll', 'gdi32.dll', 'shell32.dll', 'ole32.dll', 'oleaut32.dll',
  'advapi32.dll', 'msvcrt.dll', 'comctl32.dll', 'comdlg32.dll', 'shlwapi.dll', 'uxtheme.dll',
  'version.dll', 'imm32.dll', 'winmm.dll', 'msimg32.dll', 'rpcrt4.dll',
]);

// Named for a clearer message; none of them is on the list above anyway.
const FOREIGN_DLLS = [
  [/^libgcc/i, 'the GCC runtime must be linked statically'],
  [/^libstdc\+\+/i, 'the C++ runtime must be linked statically'],
  [/^libwinpthread/i, 'winpthreads must be linked statically'],
  [/^(api|ext)-ms-win-/i, 'API set forwarders do not exist on Windows 7'],
  [/^(ucrtbase|vcruntime|msvcp)/i, 'the universal CRT is not part of Windows 7'],
];

// Functions added after Windows 7 that compiler runtimes and careless code pull in.
const NEWER_THAN_WINDOWS_7 = new Set([
  // kernel32, Windows 8 and later
  'GetSystemTimePreciseAsFileTime', 'WaitOnAddress', 'WakeByAddressSingle', 'WakeByAddressAll',
  'GetCurrentThreadStackLimits', 'SetThreadDescription', 'GetThreadDescription', 'CreateFile2',
  'CreateFile3', 'CopyFile2', 'PrefetchVirtualMemory', 'GetOverlappedResultEx', 'VirtualAlloc2',
  'VirtualAlloc2FromApp', 'MapViewOfFile3', 'MapViewOfFileNuma2', 'CreateFileMappingFromApp',
  'MapViewOfFileFromApp', 'VirtualAllocFromApp', 'LoadPackagedLibrary', 'GetProcessMitigationPolicy',
  'SetProcessMitigationPolicy', 'GetFirmwareType', 'GetProcessInformation', 'SetProcessInformation',
  'GetThreadInformation', 'SetThreadInformation', 'GetCurrentPackageId', 'GetCurrentPackageFullName',
  'GetCurrentPackageFamilyName', 'GetPackageFamilyName', 'InitializeSynchronizationBarrier',
  'EnterSynchronizationBarrier', 'DeleteSynchronizationBarrier', 'DiscardVirtualMemory',
  'OfferVirtualMemory', 'ReclaimVirtualMemory', 'GetSystemCpuSetInformation',
  'SetThreadSelectedCpuSets', 'GetMemoryErrorHandlingCapabilities', 'SetThreadpoolTimerEx',
  'SetThreadpoolWaitEx', 'GetDynamicTimeZoneInformationEffectiveYears', 'QueryInterruptTime',
  'QueryInterruptTimePrecise', 'QueryUnbiasedInterruptTimePrecise', 'GetSystemTimeAdjustmentPrecise',
  'GetTempPath2W', 'GetTempPath2A', 'IsWow64Process2', 'GetMachineTypeAttributes',
  'InitializeContext2', 'GetOsManufacturingMode', 'CreatePseudoConsole', 'ClosePseudoConsole',
  // kernel32, only with an optional Windows 7 update installed
  'SetDefaultDllDirectories', 'AddDllDirectory', 'RemoveDllDirectory',
  // user32, Windows 8 and later
  'SetCoalescableTimer', 'GetDpiForWindow', 'GetDpiForSystem', 'SetProcessDpiAwarenessContext',
  'SetThreadDpiAwarenessContext', 'GetThreadDpiAwarenessContext', 'AdjustWindowRectExForDpi',
  'GetSystemMetricsForDpi', 'SystemParametersInfoForDpi', 'EnableNonClientDpiScaling',
  'GetAwarenessFromDpiAwarenessContext', 'AreDpiAwarenessContextsEqual', 'GetWindowDpiAwarenessContext',
  'EnableMouseInPointer', 'GetPointerInfo', 'GetPointerType', 'GetPointerFrameInfo',
  'InitializeTouchInjection', 'InjectTouchInput', 'RegisterPointerInputTarget', 'IsImmersiveProcess',
  'GetCurrentInputMessageSource',
  // combase / WinRT
  'RoInitialize', 'RoUninitialize', 'RoGetActivationFactory', 'WindowsCreateString',
]);

function objdumpImports(objdump, file) {
  const text = execFileSync(objdump, ['-p', file], { encoding: 'utf8', maxBuffer: 64 << 20 });
  const tables = text.split('The Import Tables')[1] || '';
  const result = new Map();
  let current = null;
  for (const line of tables.split('\n')) {
    const dll = /^\s*DLL Name: (\S+)/.exec(line);
    if (dll) { current = dll[1].toLowerCase(); result.set(current, []); continue; }
    if (/^\S/.test(line)) { if (line.trim()) current = null; continue; }
    const fn = /^\t[0-9a-f]+\t\s*(\d+)\s+(\S+)/.exec(line);
    if (current && fn) result.get(current).push(fn[2]);
    const ordinal = /^\t[0-9a-f]+\t\s*(\d+)\s*$/.exec(line);
    if (current && ordinal) result.get(current).push(`#${ordinal[1]}`);
  }
  return result;
}

function main() {
  const [objdump, ...files] = process.argv.slice(2);
  if (!objdump || !files.length) {
    console.error('usage: node windows7_test.js <objdump> <file>...');
    process.exit(2);
  }
  for (const file of files) {
    const base = path.basename(file);
    let pe = null;
    test(`${base}: is a 32-bit x86 image for Windows 7`, (t) => {
      pe = new CPeFile(file);
      t.equal(pe.machine, 0x14c, 'machine');
      const atMost61 = ([major, minor]) => major < 6 || (major === 6 && minor <= 1);
      t.expect(atMost61(pe.subsystemVersion), `subsystem version ${pe.subsystemVersion.join('.')} is newer than 6.1: Windows 7 refuses to start it`);
      t.expect(atMost61(pe.osVersion), `operating system version ${pe.osVersion.join('.')} is newer than 6.1`);
    });
    if (!pe) continue;
    const imports = pe.imports();

    test(`${base}: imports only Windows system libraries`, (t) => {
      t.expect(imports.length > 0, 'no imports found at all: the reader or the file is broken');
      for (const { dll, delayed } of imports) {
        const name = dll.toLowerCase();
        const foreign = FOREIGN_DLLS.find(([pattern]) => pattern.test(name));
        t.expect(!foreign, `${dll}${delayed ? ' (delay-loaded)' : ''}: ${foreign && foreign[1]}`);
        t.expect(foreign || SYSTEM_DLLS.has(name), `${dll}${delayed ? ' (delay-loaded)' : ''} is not a system library of Windows 7`);
      }
    });

    test(`${base}: imports no function that Windows 7 lacks`, (t) => {
      for (const { dll, functions } of imports)
        for (const fn of functions)
          t.expect(!NEWER_THAN_WINDOWS_7.has(fn), `${dll}!${fn} does not exist on Windows 7`);
    });

    // A second reading by binutils: a fault in our reader must not hide an import.
    test(`${base}: import table reads the same as objdump -p`, (t) => {
      const ours = new Map();
      for (const { dll, functions, delayed } of imports)
        if (!delayed) ours.set(dll.toLowerCase(), functions);
      const theirs = objdumpImports(objdump, file);
      t.equal([...ours.keys()].sort(), [...theirs.keys()].sort(), 'imported libraries');
      for (const [dll, functions] of theirs)
        if (ours.has(dll)) t.equal(ours.get(dll), functions, `functions from ${dll}`);
    });
  }
  finish();
}

main();
