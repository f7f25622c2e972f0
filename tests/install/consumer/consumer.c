/* A host program built against an installed qvdep: it links the module and
 * prints the release text of the module's version record. */
#include <stdio.h>

#include "qvdep.h"

int main(void) {
  VersionRecord record;
  if (qvrelct1(&record) != 0 || record.slot[0].text == NULL) return 1;
  printf("%s\n", record.slot[0].text);
  return 0;
}
