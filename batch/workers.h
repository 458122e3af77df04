// Internal to the batch library: the worker processes of the pool, as this system
// starts them (workers_posix.cpp), and the worker's side of its channel.
//
// A worker is quintolex-batch itself: a fork of it (workers_posix.cpp), or where a
// system has no fork the executable started again with --worker. It holds:
//   0  its end of the channel, a stream socket: the settings, then one task per
//      line come in; one byte goes out when a task is done;
//   1  the console memory file (standard output, where the quadrature prints);
//   2  the report memory file (standard error, the run-time report of a trap);
//   3  the results memory file (the task's result records);
//   4  the plot directory, when there are plots.
// The parent empties the three memory files before each task and reads them after
// it, also after the worker has died in it.
#pragma once
#include <sys/types.h>

#include <string>
#include <string_view>

namespace batch {

struct WorkerProcess {
  pid_t pid = -1;
  int channel = -1;                            // the parent's end
  int out_fd = -1, err_fd = -1, result_fd = -1;  // the memory files, as the parent holds them
};

// Starts a worker and sends it `settings_line`. False with errno when it cannot be
// started; nothing is left open then.
bool start_worker(WorkerProcess& worker, int plot_dir_fd, const std::string& settings_line);

// Empties the memory files for the next task.
void clear_task_files(const WorkerProcess& worker);

// Sends a line over the channel (waiting while the worker reads it). False when the
// worker has gone.
bool send_line(int channel, std::string_view line);

// What the worker sent since the last call: 1 a task done, 0 the channel closed (the
// worker has ended, or is ending), -1 nothing yet.
int receive(int channel);

// Kills the worker (SIGKILL), when `kill`, closes the channel and reaps the worker.
// Returns its wait status. The memory files stay open, to be read.
int end_worker(WorkerProcess& worker, bool kill);

// Closes the memory files of a worker that has ended.
void close_task_files(WorkerProcess& worker);

// The wait status of a worker that finished its task: exited with status 0.
inline constexpr int FINISHED = 0;

// In a worker just made: it is ended when `parent` ends (parent_linux.cpp).
void end_with_parent(pid_t parent);

// The worker's side: the settings line, then tasks, from descriptor 0, until it closes.
// `serve` runs one task line; the worker then reports it done.
int serve_channel(void (*configure)(std::string_view settings_line), void (*serve)(std::string_view task_line));

}  // namespace batch
