#pragma once
// Where the build put the programs under test (compile definitions from the build, host paths).
#ifndef TALLY_STARTMENU_EXE
#error "the build defines the paths of the test bed's programs"
#endif
