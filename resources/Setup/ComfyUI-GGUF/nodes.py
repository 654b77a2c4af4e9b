"""A small check node installed by 岚舟's local set-up.

It lists the GGUF diffusion models ComfyUI can see and says whether the `gguf` Python package
imports in this environment. It does not load or run GGUF weights itself: for that, install a
GGUF loader node (for example city96's ComfyUI-GGUF) into the same custom_nodes folder.
"""
import folder_paths


def _gguf_available():
    try:
        import gguf  # noqa: F401
    except ImportError:
        return False
    return True


class TidewickGGUFCheck:
    @classmethod
    def INPUT_TYPES(cls):
        return {"required": {}}

    RETURN_TYPES = ("STRING",)
    FUNCTION = "check"
    CATEGORY = "tidewick"

    def check(self):
        models = [name for name in folder_paths.get_filename_list("diffusion_models") if name.endswith(".gguf")]
        state = "gguf package: " + ("available" if _gguf_available() else "missing")
        return ("\n".join([state] + models),)


NODE_CLASS_MAPPINGS = {"TidewickGGUFCheck": TidewickGGUFCheck}
NODE_DISPLAY_NAME_MAPPINGS = {"TidewickGGUFCheck": "岚舟 GGUF check"}
