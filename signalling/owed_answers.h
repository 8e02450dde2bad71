#pragma once
// The answers a Q.921 link owes its peer because the channel refused them:
// the REJ of a sequence error and the RR with F=1 that answers a poll. The
// peer waits for either under T200: lost, each costs it a T200, and three
// in a row a re-establishment that throws its unacknowledged I frames away.
// So each stays owed until it went, and a REJ counts as sent only then.

struct OwedAnswers {
    bool reject = false;
    bool final = false;  // F=1, in an RR or in the owed REJ

    // A REJ with F = `f` went (`sent`) or was refused.
    void reject_sent(bool sent, bool f) {
        if (sent) {
            reject = false;
            final = final && !f;
        } else {
            reject = true;
            final = final || f;
        }
    }
    void final_sent(bool sent) { final = !sent; }
    void clear() { reject = final = false; }
};
