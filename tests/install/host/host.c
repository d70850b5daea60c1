/* A host program of the installed library: reports the version and opens a
 * session. Prints the version text; exit status 0 when the library behaved. */
#include <stdio.h>
#include <zelpost.h>

int main(void) {
  char version[64];
  if (zelVersion(version, (int)sizeof version) <= 0) return 1;
  if (zelInitialize("pop3.example.jp", "smtp.example.jp", "taro", "secret", "taro@example.jp",
                    "Taro") != 1) {
    return 2;
  }
  /* A missing server name is refused with the missing-settings error. */
  if (zelInitialize("", "smtp.example.jp", "taro", "secret", "taro@example.jp", "Taro") != 0 ||
      zelGetErrorInt() != -1000) {
    return 3;
  }
  puts(version);
  return 0;
}
