/* save_attachment: saves one attachment of a stored message (a display
 * file that zelRecvMailAll wrote) through the library's attachment dialog,
 * as a Linux host drives it through zelpost_ui.h: the main thread runs
 * zelDialogAttach, which pumps the dialog's messages; a second thread picks
 * the entry, presses Save, answers the Save dialog and presses Close.
 *
 *   save_attachment MAILFILE N TARGET
 *
 * Saves the N-th attachment listed (1 the first) as TARGET, a new file, and
 * prints its listed name (Shift-JIS) and a line feed. Paths are Shift-JIS,
 * as every host text (ASCII paths are the same in every locale). Exit
 * status 0 when saved; 1 when the dialog or the entry was not there or the
 * file was not written; 2 for a wrong command line. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <zelpost.h>
#include <zelpost_ui.h>

/* The attachment dialog (resource 230): its Save button and list box. */
#define ATTACHMENT_DIALOG 230
#define SAVE_BUTTON 57601
#define ATTACHMENT_LIST 1001
/* How long a dialog may take to appear or go. */
#define WAIT_MS 10000

struct job {
  unsigned int thread; /* the thread running zelDialogAttach */
  int entry;           /* list index */
  const char* target;
  char name[260]; /* the entry's name */
  int saved;      /* 1 once the Save dialog took the answer */
};

/* Drives the dialog; closes it on every path, so zelDialogAttach returns. */
static void* drive(void* argument) {
  struct job* job = argument;
  const zeluiWindow dialog = zeluiWaitDialog(job->thread, ATTACHMENT_DIALOG, WAIT_MS);
  if (dialog == 0) return NULL; /* no dialog: the file has no attachments */
  const zeluiWindow list = zeluiGetDlgItem(dialog, ATTACHMENT_LIST);
  if (zeluiListText(list, job->entry, job->name, (int)sizeof job->name) >= 0 &&
      zeluiSelectEntry(list, job->entry) == 1 && zeluiPressButton(dialog, SAVE_BUTTON) == 1) {
    const zeluiWindow save = zeluiWaitDialog(job->thread, ZELUI_SAVE_DIALOG, WAIT_MS);
    /* The save runs before the dialog goes; the Close below comes after it. */
    job->saved = save != 0 && zeluiAnswerSave(save, job->target) == 1 &&
                 zeluiWaitGone(save, WAIT_MS) == 1;
  }
  zeluiPressButton(dialog, ZELUI_IDCANCEL);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 4 || atoi(argv[2]) < 1) {
    fputs("usage: save_attachment MAILFILE N TARGET\n", stderr);
    return 2;
  }
  struct job job = {zeluiThreadId(), atoi(argv[2]) - 1, argv[3], "", 0};
  pthread_t driver;
  if (pthread_create(&driver, NULL, drive, &job) != 0) return 1;
  const int result = zelDialogAttach(argv[1]);
  pthread_join(driver, NULL);
  FILE* saved = fopen(argv[3], "rb");
  if (result != 0 || !job.saved || saved == NULL) {
    fprintf(stderr, "save_attachment: no attachment %s saved (result %d)\n", argv[2], result);
    return 1;
  }
  fclose(saved);
  printf("%s\n", job.name);
  return 0;
}
