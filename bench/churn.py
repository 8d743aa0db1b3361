# The work of churn.zot in Python: a million rounds of building a string, a
# list holding it and an object holding both, each dropping the last round's.
class Obj:
    def __init__(self, text, items, count):
        self.text = text
        self.items = items
        self.count = count


o = None
for n in range(1000000):
    s = "a string that is built and dropped " + str(n)
    b = [s, n, ["a", "nested", "block"], "".join([s])]
    o = Obj(s, b, n)
print(o.count)
