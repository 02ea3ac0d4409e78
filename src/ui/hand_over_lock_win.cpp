#include <windows.h>

#include "ui/hand_over_lock.h"

namespace kelvora::ui {

namespace {
static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));
// SRWLOCK_INIT and CONDITION_VARIABLE_INIT are all zero bits, as the members start.
PSRWLOCK AsLock(void*& storage) { return reinterpret_cast<PSRWLOCK>(&storage); }
PCONDITION_VARIABLE AsCondition(void*& storage) { return reinterpret_cast<PCONDITION_VARIABLE>(&storage); }
}  // namespace

void HandOverLock::Lock() { ::AcquireSRWLockExclusive(AsLock(lock_)); }
void HandOverLock::Unlock() { ::ReleaseSRWLockExclusive(AsLock(lock_)); }

void HandOverLock::Wait() { ::SleepConditionVariableSRW(AsCondition(condition_), AsLock(lock_), INFINITE, 0); }

void HandOverLock::NotifyAll() { ::WakeAllConditionVariable(AsCondition(condition_)); }

}  // namespace kelvora::ui
