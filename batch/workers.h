// Internal to the batch library: the worker processes of the pool, as each system
// starts them (workers_posix.cpp, workers_windows.cpp), and the worker's side of its
// channel.
//
// A worker is quintolex-batch itself: a fork of it (POSIX), or the executable started
// again with --worker (Windows). It has:
//   - its channel: the settings, then one task per line come in; one byte goes out
//     when a task is done;
//   - the console file as standard output, where the quadrature prints;
//   - the report file as standard error, the run-time report of a trap;
//   - the results file as descriptor WORKER_RESULTS (the task's result records);
//   - the plot folder, when there are plots (worker_plot_folder).
// The parent empties the three task files before each task and reads them after it,
// also after the worker has died in it.
#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch.h"

namespace batch {

// The descriptor of a worker's results file.
inline constexpr int WORKER_RESULTS = 3;

// A worker as its parent holds it: the system's numbers (process ids, descriptors or
// handles).
struct WorkerProcess {
  std::intptr_t process = -1;
  std::intptr_t channel = -1, done = -1;  // the parent's ends (done: where there is a second)
  std::intptr_t out = -1, err = -1, results = -1;  // the task files, as the parent holds them
};

// Starts a worker and sends it `settings_line`. False with errno when it cannot be
// started; nothing is left open then.
bool start_worker(WorkerProcess& worker, const PlotFolder& plots, const std::string& settings_line);

// The most workers that can run at once, whatever -j asks.
int worker_limit();

// Empties the task files for the next task.
void clear_task_files(const WorkerProcess& worker);

enum class TaskFile { Console, Report, Results };
std::string read_task_file(const WorkerProcess& worker, TaskFile file);

// Sends a line over the channel (waiting while the worker reads it). False with errno
// when the worker has gone.
bool send_line(const WorkerProcess& worker, std::string_view line);

// What the worker sent since the last call: 1 a task done, 0 the channel closed (the
// worker has ended, or is ending), -1 nothing yet.
int receive(const WorkerProcess& worker);

// Waits until one of `workers` has something to receive, an ending signal arrives or
// `timeout` passes (none: no limit); ready[k] tells which workers have.
void wait_for_workers(const std::vector<const WorkerProcess*>& workers,
                      std::optional<std::chrono::nanoseconds> timeout, std::vector<char>& ready);

// Kills the worker at once; its end is then received as any other.
void kill_worker(const WorkerProcess& worker);

// Kills the worker, when `kill`, closes the channel and waits for the worker's end.
// Returns its status, FINISHED for one that exited normally. The task files stay open,
// to be read.
int end_worker(WorkerProcess& worker, bool kill);

// Closes the task files of a worker that has ended.
void close_task_files(WorkerProcess& worker);

// The status of a worker that ended normally.
inline constexpr int FINISHED = 0;

// How a worker ended, from its status: `killed` by kill_worker, else `crash` when the
// system ended it ("crashed: signal 11 (Segmentation fault)"), else its exit status.
struct Ending {
  bool killed = false;
  std::string crash;
  int exit_status = 0;
};
Ending ending_of(int status);

// The worker's side. In a process started as a worker (quintolex-batch --worker ...):
// its channel and files put in place; false when the process was not started by a
// pool.
bool take_worker_place(int argc, char** argv);

// The plot folder as a worker reaches it, given its full name.
PlotFolder worker_plot_folder(const std::string& full_name);

// Reads up to `size` bytes of the channel: the count, 0 once the batch has closed it.
long read_channel(char* into, std::size_t size);

// Tells the batch that the task is done: false when the batch has gone.
bool tell_task_done();

}  // namespace batch
