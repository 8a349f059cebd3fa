#pragma once

// The program's fatal exit: prints the error line on standard output and ends with `code`.
[[noreturn]] void ExitQOR(int code);
