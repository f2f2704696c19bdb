#include "activelist.h"

#include "nivlet.h"

std::shared_ptr<ActiveList> ActiveList::create()
{
    return std::shared_ptr<ActiveList>(new ActiveList);
}

Nivlet *ActiveList::find(qint64 id) const
{
    for (Nivlet *n : records) {
        if (n->id == id)
            return n;
    }
    return nullptr;
}

std::shared_ptr<Nivlet> ActiveList::hold(Nivlet *nivlet) const
{
    Q_ASSERT(contains(nivlet));
    return std::shared_ptr<Nivlet>(shared_from_this(), nivlet);
}

void ActiveList::finish()
{
    bands.reset(size());
}

void ActiveList::forgetBook(const Book *book)
{
    for (Nivlet *n : std::as_const(records)) {
        if (n->book == book)
            n->book = nullptr;
    }
}
