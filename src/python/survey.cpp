// tarnu._survey(hive): every key and value of a hive counted, and what could not be read with the kind of its error,
// for the command's `info` and its summary of a damaged hive by kind.
#include "python/binding.h"
#include "rows/key_records.h"
#include "tree/nodes.h"

namespace tarnu::py {
namespace {

struct Survey {
    size_t keys = 0, values = 0, skipped = 0;
    std::vector<RecordProblem> problems;
};

// Walks the whole hive as the exports do, keeping only the counts and the problems.
Result<Survey> survey(const Hive& hive) {
    TARNU_TRY(KeyNode root, parse_key_node(hive, hive.base_block.root_cell_offset));
    KeyRecords records(hive, std::move(root), std::string());
    Survey found;
    while (records.next()) {
        for (RecordProblem& problem : records.take_problems()) found.problems.push_back(std::move(problem));
    }
    for (RecordProblem& problem : records.take_problems()) found.problems.push_back(std::move(problem));
    found.keys = records.keys();
    found.values = records.values();
    found.skipped = records.skipped();
    return found;
}

PyObject* new_problem(const RecordProblem& problem) {
    const char* kind = problem.kind ? error_kind_name(*problem.kind) : "Other";
    return Py_BuildValue("(NNs)", new_str(problem.path), new_str(problem.message), kind);
}

PyObject* survey_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* argv[1];
        if (!parse_arguments("_survey", args, kwargs, {"hive"}, 1, argv)) return nullptr;
        const SharedHive* shared = hive_of_object(argv[0]);
        if (shared == nullptr) {
            PyErr_SetString(PyExc_TypeError, "_survey() argument 'hive': expected a Hive");
            return nullptr;
        }
        SharedHive hive = *shared;
        return respond(without_gil([&] { return survey(*hive); }), [](Survey& found) -> PyObject* {
            PyObject* problems = new_list(found.problems, new_problem);
            if (problems == nullptr) return nullptr;
            return Py_BuildValue("(nnnN)", static_cast<Py_ssize_t>(found.keys), static_cast<Py_ssize_t>(found.values),
                                 static_cast<Py_ssize_t>(found.skipped), problems);
        });
    });
}

PyMethodDef survey_definition = {
    "_survey", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(survey_function)),
    METH_VARARGS | METH_KEYWORDS,
    "_survey(hive)\n--\n\nCount every key and value of a Hive as the exports walk it: (keys, values, parts skipped, "
    "[(key path, message, kind)]), kind being the HiveError kind of what could not be read. Used by the tarnu "
    "command."};

}  // namespace

bool add_survey(PyObject* module) { return add_module_function(module, &survey_definition); }

}  // namespace tarnu::py
