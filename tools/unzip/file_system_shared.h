// What the two file_system implementations share, needing no operating
// system: their objects' memory, the input file object and a worker's start.
#pragma once

#include <stdint.h>
#include <stdlib.h>

template <typename T>
T* allocate() {
    return static_cast<T*>(malloc(sizeof(T)));
}

// The input file object for the open file `native`, `size` bytes long;
// nullptr when there is no memory for one, the file still the caller's.
template <typename InputFile, typename NativeFile>
InputFile* inputFileHolding(NativeFile native, uint64_t size) {
    InputFile* file = allocate<InputFile>();
    if (file != nullptr) *file = InputFile{native, size};
    return file;
}

// What a worker's thread runs.
struct WorkerTask {
    void (*run)(void* context);
    void* context;
};

inline void runWorkerTask(const WorkerTask& task) { task.run(task.context); }

// A worker (which holds its `task`) whose thread `startThread(worker)` has
// started; nullptr, nothing left behind, when either fails.
template <typename Worker, typename StartThread>
Worker* startWorkerWith(const WorkerTask& task, StartThread startThread) {
    Worker* worker = allocate<Worker>();
    if (worker == nullptr) return nullptr;
    worker->task = task;
    if (!startThread(*worker)) {
        free(worker);
        return nullptr;
    }
    return worker;
}
